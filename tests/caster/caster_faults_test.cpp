// Each fault mode does what a client test expects of it.
#include <gtest/gtest.h>

#include "caster_fixture.h"
#include "test_client.h"

namespace caster_test {
namespace {

using caster::FaultMode;
using caster::ReplayCaster;

caster::CasterOptions WithFault(FaultMode mode, std::size_t after = 0, std::string status = "") {
  auto options = FastOptions();
  options.fault = caster::Fault{mode, after, std::move(status)};
  return options;
}

constexpr std::size_t kIcyLength = 14;  // "ICY 200 OK\r\n\r\n"

TEST(CasterFaults, CloseAfterSendsExactlyThatManyBytesThenCloses) {
  ReplayCaster server(WithFault(FaultMode::CloseAfter, 1000));
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_TRUE(client.Eof());
  EXPECT_EQ(client.Data().substr(kIcyLength), Recording().substr(0, 1000));
  EXPECT_EQ(server.Connection(0).served, Recording().substr(0, 1000));
}

TEST(CasterFaults, CloseAfterZeroBytesSendsTheAnswerAlone) {
  ReplayCaster server(WithFault(FaultMode::CloseAfter, 0));
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_EQ(client.Data(), "ICY 200 OK\r\n\r\n");
  EXPECT_TRUE(server.Connection(0).served.empty());
}

TEST(CasterFaults, CloseAfterMidChunkedStreamSendsNoLastChunk) {
  ReplayCaster server(WithFault(FaultMode::CloseAfter, 700));
  TestClient client(server.Port());
  client.Send(V2Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  bool complete = true, malformed = true;
  EXPECT_EQ(DecodeChunked(BodyOf(client.Data()), &complete, &malformed),
            Recording().substr(0, 700));
  EXPECT_FALSE(complete);
  EXPECT_FALSE(malformed);
}

TEST(CasterFaults, StallAfterKeepsTheConnectionOpenAndStillCollectsGga) {
  ReplayCaster server(WithFault(FaultMode::StallAfter, 300));
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadAtLeast(kIcyLength + 300));
  client.Send("Ntrip-GGA:" + kGga1 + "\r\n\r\n");
  ASSERT_TRUE(
      server.WaitUntil([](const ReplayCaster& s) { return !s.Connection(0).gga.empty(); }, 5s));
  EXPECT_FALSE(client.ReadAtLeast(kIcyLength + 301, std::chrono::milliseconds(300)));
  EXPECT_FALSE(client.Eof());
  EXPECT_EQ(client.Data().substr(kIcyLength), Recording().substr(0, 300));
  EXPECT_FALSE(server.Connection(0).closed);
}

TEST(CasterFaults, NeverAnswerReadsTheRequestAndSendsNothing) {
  ReplayCaster server(WithFault(FaultMode::NeverAnswer));
  TestClient client(server.Port());
  const std::string request = ClientRequest("RTCM3", "Og==");
  client.Send(request);
  ASSERT_TRUE(server.WaitUntil(
      [](const ReplayCaster& s) {
        return s.ConnectionCount() > 0 && !s.Connection(0).request.empty();
      },
      5s));
  EXPECT_FALSE(client.ReadAtLeast(1, std::chrono::milliseconds(300)));
  EXPECT_FALSE(client.Eof());
  EXPECT_EQ(server.Connection(0).request, request);
  EXPECT_EQ(server.Connection(0).gga, std::vector<std::string>{kGga1});
}

TEST(CasterFaults, ResetAfterSendsThatManyBytesThenResets) {
  ReplayCaster server(WithFault(FaultMode::Reset, 500));
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_EQ(client.Error(), ECONNRESET);
  EXPECT_EQ(client.Data().substr(kIcyLength), Recording().substr(0, 500));
}

TEST(CasterFaults, StatusLineFaultAnswersThatLineAndABlankLineThenCloses) {
  ReplayCaster server(WithFault(FaultMode::StatusLine, 0, "HTTP/1.1 401 Unauthorized"));
  TestClient client(server.Port());
  client.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_TRUE(client.Eof());
  EXPECT_EQ(client.Data(), "HTTP/1.1 401 Unauthorized\r\n\r\n");
}

TEST(CasterFaults, EndlessHeadersNeverSendABlankLine) {
  ReplayCaster server(WithFault(FaultMode::EndlessHeaders));
  TestClient client(server.Port());
  client.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(client.ReadAtLeast(64 * 1024));
  EXPECT_TRUE(client.Data().starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(client.Data().find("\r\n\r\n"), std::string::npos);
  client.Close();
  EXPECT_TRUE(server.WaitUntil([](const ReplayCaster& s) { return s.Connection(0).closed; }, 5s));
}

TEST(CasterFaults, GarbageIsServedAfterA200AnswerAndHoldsNoFramePreamble) {
  auto options = WithFault(FaultMode::Garbage);
  options.max_bytes = 20000;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  const std::string stream = client.Data().substr(kIcyLength);
  EXPECT_EQ(stream.size(), 20000U);
  EXPECT_EQ(stream.find('\xD3'), std::string::npos);
  EXPECT_EQ(server.Connection(0).served, stream);
}

TEST(CasterFaults, SourcetableFaultAnswersTheSourcetableToAMountRequest) {
  ReplayCaster server(WithFault(FaultMode::Sourcetable));
  TestClient v2(server.Port());
  v2.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(v2.ReadToEnd());
  EXPECT_TRUE(v2.Data().starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_NE(v2.Data().find("Content-Type: gnss/sourcetable"), std::string::npos);
  EXPECT_TRUE(v2.Data().ends_with("ENDSOURCETABLE\r\n"));
  TestClient v1(server.Port());
  v1.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(v1.ReadToEnd());
  EXPECT_TRUE(v1.Data().starts_with("SOURCETABLE 200 OK\r\n"));
}

}  // namespace
}  // namespace caster_test
