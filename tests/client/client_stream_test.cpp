// The stream after the headers: byte-exact delivery, the end of a connection, and stopping.
#include <fstream>
#include <iterator>
#include <thread>

#include <zlib.h>

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
  EXPECT_TRUE(log.Contains("Exception " + TimedOutText()));
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

TEST_F(StreamTest, CompressedStreamsArriveByteExactWithoutWaitingForLaterWrites) {
  struct Case {
    caster::StreamCoding coding;
    bool as_content, chunked;
    std::string protocol;
  } cases[] = {
      {caster::StreamCoding::GzipMembers, false, true, "NTRIP 2.0, chunked, gzip"},
      {caster::StreamCoding::GzipMembers, false, false, "NTRIP 2.0, gzip"},
      {caster::StreamCoding::DeflateFlushed, false, true, "NTRIP 2.0, chunked, deflate"},
      {caster::StreamCoding::GzipMembers, true, true, "NTRIP 2.0, chunked, gzip"},
      {caster::StreamCoding::DeflateFlushed, true, false, "NTRIP 2.0, deflate"},
  };
  std::ifstream file(NTRIP_DATA_DIR "/pygpsdata-RTCMMSM3.log", std::ios::binary);
  const std::string recording((std::istreambuf_iterator<char>(file)), {});
  ASSERT_FALSE(recording.empty());
  for (const Case& c : cases) {
    // Many writes (one gzip member or one flush each), then a stall: every byte written must
    // come out although the stream never ends.
    caster::CasterOptions o = FastStream(recording, 0, c.chunked);
    o.rate = 400'000;
    o.coding = c.coding;
    o.coding_as_content = c.as_content;
    o.fault = {caster::FaultMode::StallAfter, 100'000, ""};
    caster::ReplayCaster server(o);
    auto client = Connect(Port(server));
    ASSERT_EQ(connection_result, ClientState::Connected) << client->LastRefusal().text;
    EXPECT_EQ(client->Protocol(), c.protocol);
    std::size_t largest = 0;
    const std::string received = Collect(*client, 100'000, nullptr, &largest);
    // The caster books a write once it has left.
    ASSERT_TRUE(server.WaitUntil(
        [](const auto& caster) { return caster.Connection(0).served.size() == 100'000; }, 5s));
    EXPECT_GE(server.Connection(0).writes.size(), 20u);
    EXPECT_TRUE(received == server.Connection(0).served) << c.protocol << " " << received.size();
    EXPECT_EQ(received.size(), 100'000u) << c.protocol;
    EXPECT_LE(largest, 2048u);
    EXPECT_GE(client->State(), ClientState::Connected);
  }
}

std::string GzipMember(const std::string& bytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(compressBound(static_cast<uLong>(bytes.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

std::string Hex(std::size_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%zX", n);
  return text;
}

TEST_F(StreamTest, BytesThatComeWithTheHeadAreTheStreamsFirstBytesInEveryFraming) {
  const std::string body = RandomBytes(600, 11);
  const std::string member = GzipMember(body);
  struct Case {
    std::string answer;
    bool ends;  // the stream is whole once the answer is read
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 600\r\n\r\n" + body, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0000000000000258\r\n" + body + "\r\n",
       false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n00258;ext=1\r\n" + body +
           "\r\n000\r\nX-Trailer: 1\r\n\r\n",
       true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" + Hex(member.size()) + "\r\n" +
           member + "\r\n",
       false},
      {"HTTP/1.0 200 OK\r\n\r\n" + body, false},
      {"ICY 200 OK\r\n\r\n" + body, false},
  };
  for (const Case& c : cases) {
    RawServer server(c.answer, false);
    auto client = Connect(server.Port());
    ASSERT_EQ(connection_result, ClientState::Connected) << c.answer.substr(0, 60);
    EXPECT_TRUE(Collect(*client, 600) == body) << c.answer.substr(0, 60);
    if (c.ends) {
      // A connection that ended, not a failed set-up: no refusal, the bytes go out.
      EXPECT_EQ(client->LastRefusal().kind, tarno::Refusal::Kind::None);
      EXPECT_EQ(client->LossCause(), "the caster ended the stream");
      EXPECT_LT(client->State(), ClientState::Connected);
    }
  }
}

TEST_F(StreamTest, ACodingTheClientCannotReadIsRefusedByNameAndNothingOfItPublished) {
  RawServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: br, chunked\r\n\r\n5\r\nhello\r\n",
                   false);
  auto client = Connect(server.Port());
  EXPECT_EQ(connection_result, ClientState::Error);
  EXPECT_NE(client->LastRefusal().text.find("coding \"br\""), std::string::npos)
      << client->LastRefusal().text;
  EXPECT_EQ(client->ReadRTCMBuffer(), "");
  // No coding was asked for.
  EXPECT_EQ(server.Received().find("Accept-Encoding"), std::string::npos);
}

TEST_F(StreamTest, AStreamWithoutRtcmFramesDrawsOneWarningNamingWhatItLooksLike) {
  std::string nmea;
  while (nmea.size() < 100'000) {
    nmea += "$GPGGA,120000.00,4851.50,N,00217.67,E,1,08,0.9,35.0,M,47.0,M,,*5B\r\n";
  }
  caster::CasterOptions o = FastStream(nmea, 0, true);
  o.rate = 1'000'000;
  auto timing = FastTiming();
  // The verdict needs its window passed at a read: with a window, a stream read faster than the
  // window (a loaded or emulated machine reads the whole stream in bursts) gets no verdict.
  timing.rtcm_check_window = 0ms;
  caster::ReplayCaster server(o);
  auto client = Connect(Port(server), "RTCM3", timing);
  const std::string received = Collect(*client, 80'000);
  ASSERT_GE(received.size(), 80'000u);
  // The caster books a write once it has left.
  ASSERT_TRUE(server.WaitUntil(
      [&](const auto& caster) { return caster.Connection(0).served.size() >= received.size(); },
      5s));
  EXPECT_TRUE(received == server.Connection(0).served.substr(0, received.size()));
  const tarno::Refusal warning = client->TakeContentWarning();
  EXPECT_EQ(warning.text.rfind("no RTCM 3 frame in the first ", 0), 0u) << warning.text;
  EXPECT_NE(warning.text.find(" bytes from RTCM3 (it looks like NMEA text)"), std::string::npos)
      << warning.text;
  EXPECT_EQ(client->TakeContentWarning().kind, tarno::Refusal::Kind::None) << "once";
}

}  // namespace
}  // namespace client_test
