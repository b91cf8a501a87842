// The stream after the headers: byte-exact delivery, the end of a connection, and stopping.
#include <fstream>
#include <iterator>
#include <thread>

#include "client_fixture.h"
#include "raw_server.h"
#include "replay_caster.h"

namespace client_test {
namespace {

using tarno::ClientState;

caster::CasterOptions FastStream(const std::string& bytes, std::size_t max_bytes, bool chunked) {
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", bytes}};
  o.rate = 0;
  o.chunked = chunked;
  o.max_bytes = max_bytes;
  return o;
}

std::string Port(const caster::ReplayCaster& c) {
  return std::to_string(c.Port());
}

using StreamTest = ClientTest;

TEST_F(StreamTest, PlainAndChunkedStreamsArriveByteExactInChunksOfAtMost2048Bytes) {
  for (const bool chunked : {false, true}) {
    // The recording loops: more bytes than it holds also checks the wrap.
    caster::ReplayCaster server(FastStream(RandomBytes(150'000), 300'000, chunked));
    auto client = Connect(Port(server));
    ASSERT_GE(connection_result, ClientState::Connected);
    std::size_t chunks = 0, largest = 0;
    const std::string received = Collect(*client, 300'000, &chunks, &largest);
    ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
    EXPECT_TRUE(received == server.Connection(0).served) << "chunked " << chunked;
    EXPECT_EQ(received.size(), 300'000u);
    EXPECT_LE(largest, 2048u);
    EXPECT_GE(chunks, 300'000u / 2048);
  }
}

TEST_F(StreamTest, AFullQueueStopsReadingUntilTheWritersCatchUpAndLosesNothing) {
  constexpr std::size_t kTotal = 6'000'000;
  caster::ReplayCaster server(FastStream(RandomBytes(200'000), kTotal, false));
  auto client = Connect(Port(server));
  ASSERT_GE(connection_result, ClientState::Connected);
  // Nobody reads: the queue fills to its bound and the rest waits in the sockets.
  const std::uint64_t bound = tarno::NTRIPClient::kMaxQueuedChunks * 2048;
  std::uint64_t seen = 0;
  for (int steady = 0; steady < 20;) {
    std::this_thread::sleep_for(10ms);
    const std::uint64_t now = client->BytesReceived();
    steady = now == seen && now > 0 ? steady + 1 : 0;
    seen = now;
  }
  EXPECT_LE(seen, bound);
  EXPECT_LT(seen, kTotal);
  const std::string received = Collect(*client, kTotal);
  EXPECT_EQ(received.size(), kTotal);
  EXPECT_TRUE(received == server.Connection(0).served);
}

TEST_F(StreamTest, CasterClosingTheConnectionGivesDisconnectedAndEndsTheLoop) {
  caster::ReplayCaster server(FastStream(RandomBytes(3000), 3000, false));
  auto client = Connect(Port(server));
  EXPECT_EQ(Collect(*client, 3000).size(), 3000u);
  ASSERT_TRUE(log.WaitFor("ReceiveRTCM End", 5s));
  EXPECT_EQ(client->State(), ClientState::Disconnected);
  EXPECT_FALSE(client->IsSocketConnected());
  EXPECT_TRUE(log.Contains("Exception End of file"));
  EXPECT_TRUE(log.Contains("Socket didn't received data"));
  EXPECT_TRUE(log.Contains("Close Connection"));
}

TEST_F(StreamTest, LastChunkOfAChunkedStreamEndsTheLoopLikeAClose) {
  caster::ReplayCaster server(FastStream(RandomBytes(3000), 3000, true));
  auto client = Connect(Port(server));
  const std::string received = Collect(*client, 3000);
  ASSERT_TRUE(log.WaitFor("ReceiveRTCM End", 5s));
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  EXPECT_TRUE(received == server.Connection(0).served);
  EXPECT_EQ(client->State(), ClientState::Disconnected);
}

TEST_F(StreamTest, ResetByTheCasterEndsTheLoop) {
  caster::CasterOptions o = FastStream(RandomBytes(3000), 0, false);
  o.fault = {caster::FaultMode::Reset, 1000, ""};
  caster::ReplayCaster server(o);
  auto client = Connect(Port(server));
  // A reset may discard bytes still unread in the socket: what came is a prefix of what went.
  const std::string received = Collect(*client, 1000);
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  EXPECT_TRUE(server.Connection(0).served.rfind(received, 0) == 0);
  ASSERT_TRUE(log.WaitFor("ReceiveRTCM End", 5s));
  EXPECT_LT(client->State(), ClientState::Connected);
}

TEST_F(StreamTest, StopWhileBlockedInAReadEndsTheReadAtOnce) {
  caster::CasterOptions o = FastStream(RandomBytes(3000), 0, true);
  o.fault = {caster::FaultMode::StallAfter, 1000, ""};
  caster::ReplayCaster server(o);
  auto client = Connect(Port(server));
  ASSERT_EQ(Collect(*client, 1000).size(), 1000u);
  // Every read so far returned; the next one has begun and finds nothing to read.
  ASSERT_TRUE(log.WaitUntil(
      [](const std::vector<LogLine>& lines) {
        std::size_t begun = 0, returned = 0;
        for (const auto& line : lines) {
          begun += line.text == "Receive: Try go get some data" ? 1 : 0;
          returned += line.text.rfind("Receive: Receive message size : ", 0) == 0 ? 1 : 0;
        }
        return begun == returned + 1;
      },
      5s));
  client->_ActiveShutdownSendGGAtoServer();
  ASSERT_TRUE(log.WaitFor("ReceiveRTCM End", 5s));
  EXPECT_TRUE(log.ContainsPrefix("Exception Operation Aborted"));
  client.reset();
  EXPECT_TRUE(log.Contains("NTRIPClient::~NTRIPClient() End"));
}

TEST_F(StreamTest, DestroyingAClientBlockedInAReadNeedsNoShutdownFirst) {
  caster::CasterOptions o = FastStream(RandomBytes(3000), 0, false);
  o.fault = {caster::FaultMode::StallAfter, 500, ""};
  caster::ReplayCaster server(o);
  auto client = Connect(Port(server));
  ASSERT_EQ(Collect(*client, 500).size(), 500u);
  client.reset();
  EXPECT_TRUE(log.Contains("ReceiveRTCM End"));
  EXPECT_TRUE(log.Contains("SendGGAtoServer End"));
}

TEST_F(StreamTest, StalledStreamIsAFailedReadAfterTheIdleBound) {
  caster::CasterOptions o = FastStream(RandomBytes(3000), 0, false);
  o.fault = {caster::FaultMode::StallAfter, 500, ""};
  caster::ReplayCaster server(o);
  auto timing = FastTiming();
  timing.idle_read_bound = 300ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  ASSERT_EQ(Collect(*client, 500).size(), 500u);
  ASSERT_TRUE(log.WaitFor("ReceiveRTCM End", 10s));
  EXPECT_TRUE(log.Contains("Exception Connection timed out"));
  EXPECT_EQ(client->State(), ClientState::Disconnected);
}

TEST_F(StreamTest, MalformedChunkHeaderIsAFailedReadAfterTheGoodBytes) {
  RawServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nZZ\r\n",
                   false);
  auto client = Connect(server.Port());
  EXPECT_EQ(client->ReadRTCMBuffer(), "abc");
  // Whether the bad header came with the headers or in a later read depends on the transfer.
  EXPECT_TRUE(log.WaitForPrefix({"Exception malformed chunked transfer",
                                 "Errors: Network Connection: malformed chunked transfer"},
                                5s));
  EXPECT_LT(client->State(), ClientState::Connected);
}

TEST_F(StreamTest, ReadersOfEmptyQueuesReturnEmptyAfterTheirWait) {
  RawServer server("ICY 200 OK\r\n\r\n", false);
  auto client = Connect(server.Port());
  EXPECT_EQ(client->ReadRTCMBuffer(), "");
  EXPECT_TRUE(log.Contains("ReadRTCMBuffer buffer empty"));
  EXPECT_EQ(client->ReadRTCMDecodedBuffer(), "");
  EXPECT_TRUE(log.Contains("ReadRTCMDecodeBuffer buffer empty"));
}

TEST_F(StreamTest, DecodingGivesOneSummaryPerRawChunkInTheSameOrder) {
  std::ifstream file(NTRIP_DATA_DIR "/pygpsdata-RTCMMSM3.log", std::ios::binary);
  const std::string recording((std::istreambuf_iterator<char>(file)), {});
  ASSERT_FALSE(recording.empty());
  caster::ReplayCaster server(FastStream(recording, recording.size() * 3, true));
  auto client = Connect(Port(server), "RTCM3", FastTiming(), true);
  std::size_t chunks = 0;
  const std::string received = Collect(*client, recording.size() * 3, &chunks);
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  EXPECT_TRUE(received == server.Connection(0).served);
  std::size_t summaries = 0;
  while (log.Count("ReadRTCMDecodeBuffer buffer empty") == 0) {
    client->ReadRTCMDecodedBuffer();
    ++summaries;
  }
  EXPECT_EQ(summaries - 1, chunks);
}

TEST_F(StreamTest, OnlyCorrectionBytesArePublishedAndAWebPageIsNoStream) {
  const std::string recording = RandomBytes(5000, 3);
  const auto answering = [&](const std::string& head) {
    caster::CasterOptions o = FastStream(recording, 0, false);
    o.fault = {caster::FaultMode::Answer, 0, head};
    return o;
  };
  {
    // Header lines after the ICY line are no corrections.
    caster::ReplayCaster server(
        answering("ICY 200 OK\r\nServer: Caster/1.0\r\nDate: Tue, 08 Dec 2026\r\n\r\n"));
    auto client = Connect(Port(server));
    ASSERT_EQ(connection_result, ClientState::Connected);
    const std::string got = Collect(*client, 20'000);
    // The caster books a write when it completes, which may come after the client has read it.
    server.WaitUntil([&](const auto& c) { return c.Connection(0).served.size() >= got.size(); },
                     5s);
    const std::string served = server.Connection(0).served;
    EXPECT_GE(got.size(), 20'000u);
    EXPECT_TRUE(got == served.substr(0, got.size()));
  }
  {
    // The stream ends where its length says, whatever comes after it.
    caster::ReplayCaster server(
        answering("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\nContent-Length: 3000\r\n\r\n"));
    auto client = Connect(Port(server));
    ASSERT_EQ(connection_result, ClientState::Connected);
    EXPECT_TRUE(Collect(*client, 10'000) == recording.substr(0, 3000));
  }
  {
    caster::ReplayCaster server(
        answering("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"));
    auto client = Connect(Port(server));
    EXPECT_EQ(connection_result, ClientState::Error);
    EXPECT_EQ(client->LastRefusal().kind, tarno::Refusal::Kind::NotAStream);
    EXPECT_NE(client->LastRefusal().text.find("Content-Type text/html"), std::string::npos)
        << client->LastRefusal().text;
    EXPECT_EQ(client->ReadRTCMBuffer(), "");
  }
}

}  // namespace
}  // namespace client_test
