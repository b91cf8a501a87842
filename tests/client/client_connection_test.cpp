// The request on the wire, the caster's answers and how each one ends.
#include <boost/system/system_error.hpp>

#include "client_fixture.h"
#include "raw_server.h"
#include "replay_caster.h"

namespace client_test {
namespace {

using tarno::ClientState;

caster::CasterOptions Options(const std::string& stream = RandomBytes(4000)) {
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", stream}};
  o.rate = 0;
  return o;
}

caster::CasterOptions Failing(caster::FaultMode mode, const std::string& status_line = "") {
  caster::CasterOptions o = Options();
  o.fault.mode = mode;
  o.fault.status_line = status_line;
  return o;
}

std::string Port(const caster::ReplayCaster& c) {
  return std::to_string(c.Port());
}

using ConnectionTest = ClientTest;

TEST_F(ConnectionTest, RequestOnTheWireIsTheLayoutPlusTheUserAgentLine) {
  caster::ReplayCaster server(Options());
  auto client = Connect(Port(server), "RTCM3");
  ASSERT_GE(client->State(), ClientState::Connected);
  const std::string expected =
      "GET /RTCM3 HTTP/1.1\r\n"
      "Host: 127.0.0.1\r\n"
      "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"
      "Ntrip-Version: Ntrip/2.0\r\n"
      "User-Agent: NTRIP NTRIP_Client/1.0\r\n"
      "Ntrip-GGA:" +
      Sentence(kLat, kLon, kAlt) + "\r\n\r\n";
  EXPECT_EQ(server.Connection(0).request, expected);
  EXPECT_EQ(expected.substr(expected.size() - 6), "\r\n\r\n\r\n");
}

TEST_F(ConnectionTest, MountPointIsSentUnchangedAndNoUserNameSendsNoAuthorization) {
  RawServer server("HTTP/1.1 200 OK\r\n\r\n", false);
  auto client = Connect(server.Port(), "Mount_1-a.b", FastTiming(), false, "127.0.0.1", "", "");
  EXPECT_GE(connection_result, ClientState::Connected);
  const std::string received = server.Received();
  EXPECT_EQ(received.rfind("GET /Mount_1-a.b HTTP/1.1\r\nHost: 127.0.0.1\r\nNtrip-Version:", 0), 0u)
      << received;
  EXPECT_EQ(received.find("Authorization"), std::string::npos) << received;
}

TEST_F(ConnectionTest, CredentialNeverReachesTheLogNorItsLengthButTheUserNameDoes) {
  caster::CasterOptions o = Options();
  o.user = "alice";
  o.password = "pa55word";
  caster::ReplayCaster server(o);
  auto client =
      Connect(Port(server), "RTCM3", FastTiming(), false, "127.0.0.1", "alice", "pa55word");
  ASSERT_GE(client->State(), ClientState::Connected);
  bool named = false;
  for (const auto& line : log.Lines()) {
    EXPECT_EQ(line.text.find("pa55word"), std::string::npos) << line.text;
    EXPECT_EQ(line.text.find("YWxpY2U6cGE1NXdvcmQ="), std::string::npos) << line.text;
    if (line.text.find("alice") == std::string::npos) continue;
    named = true;
    // The length of "alice:pa55word" in Base64 tells the password's.
    EXPECT_EQ(line.text.find("20"), std::string::npos) << line.text;
  }
  EXPECT_TRUE(named);
}

TEST_F(ConnectionTest, EveryAnswerOtherThanAStreamIsAnErrorNamingItsStatusLine) {
  for (const std::string status :
       {"HTTP/1.1 401 Unauthorized", "HTTP/1.1 404 Not Found", "SOURCETABLE 200 OK",
        "HTTP/1.0 500 Internal Server Error", "ICY 401 Unauthorized"}) {
    caster::ReplayCaster server(Failing(caster::FaultMode::StatusLine, status));
    auto client = Connect(Port(server));
    EXPECT_EQ(client->State(), ClientState::Error) << status;
    EXPECT_TRUE(log.Contains("Errors: Network Connection: " + status)) << status;
  }
}

TEST_F(ConnectionTest, WrongPasswordAndUnknownMountPointAreErrors) {
  caster::CasterOptions o = Options();
  o.user = "user";
  o.password = "other";
  caster::ReplayCaster guarded(o);
  EXPECT_EQ(Connect(Port(guarded))->State(), ClientState::Error);
  caster::ReplayCaster open(Options());
  EXPECT_EQ(Connect(Port(open), "NOPE")->State(), ClientState::Error);
  EXPECT_TRUE(log.ContainsPrefix("Errors: Network Connection: HTTP/1.1 401"));
  EXPECT_TRUE(log.ContainsPrefix("Errors: Network Connection: HTTP/1.1 404"));
}

TEST_F(ConnectionTest, SourcetableUnderAnOkStatusIsAnError) {
  RawServer server(
      "HTTP/1.1 200 OK\r\nContent-Type: gnss/sourcetable\r\n\r\nSTR;RTCM3;x\r\nENDSOURCETABLE\r\n",
      true);
  EXPECT_EQ(Connect(server.Port())->State(), ClientState::Error);
  EXPECT_TRUE(log.Contains("Errors: Network Connection: HTTP/1.1 200 OK"));
}

TEST_F(ConnectionTest, AnswerWithoutAStatusLineIsAnError) {
  RawServer binary(std::string("\xd3\x00\x13\x3e\xd0\r\nmore", 11), false);
  EXPECT_EQ(Connect(binary.Port())->State(), ClientState::Error);
  EXPECT_TRUE(log.Contains("Errors: Network Connection: \\xD3\\x00\\x13>\\xD0"));
}

TEST_F(ConnectionTest, CasterClosingBeforeTheBlankLineIsAnEndOfFileError) {
  RawServer server("HTTP/1.1 200 OK\r\nServer: x\r\n", true);
  auto client = Connect(server.Port());
  EXPECT_EQ(client->State(), ClientState::Error);
  EXPECT_TRUE(log.Contains("Errors: Network Connection: End of file"));
}

TEST_F(ConnectionTest, IcyAnswerWithOrWithoutBlankLineDeliversTheStreamWhole) {
  const std::string stream = std::string("\xd3\x00\x05", 3) + RandomBytes(500) + "\r\n";
  for (const std::string head : {"ICY 200 OK\r\n", "ICY 200 OK\r\n\r\n"}) {
    RawServer server(head + stream, true);
    auto client = Connect(server.Port());
    EXPECT_TRUE(Collect(*client, stream.size()) == stream) << head;
  }
}

TEST_F(ConnectionTest, BytesThatCameWithTheHeadersAreTheFirstChunk) {
  const std::string first = RandomBytes(100, 3);
  RawServer server("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\n\r\n" + first, false);
  auto client = Connect(server.Port());
  ASSERT_GE(client->State(), ClientState::Connected);
  EXPECT_EQ(client->ReadRTCMBuffer(), first);
  EXPECT_TRUE(
      log.Contains("En-tetes de la reponse: HTTP/1.1 200 OK\r\nContent-Type: "
                   "gnss/data\r\n\r\n"));
}

TEST_F(ConnectionTest, RefusedPortIsAnInitSocketError) {
  std::string port;
  {
    RawServer closed("", true);  // a port that was free a moment ago
    port = closed.Port();
  }
  tarno::NTRIPClient client("127.0.0.1", port, "RTCM3", kLat, kLon, kAlt, false, FastTiming());
  EXPECT_EQ(client.InitSocket(), ClientState::Error);
  EXPECT_FALSE(client.IsSocketConnected());
  EXPECT_TRUE(log.Contains("Error occured !Connection refused"));
}

TEST_F(ConnectionTest, PortGivenAsServiceNameFailsResolution) {
  EXPECT_THROW(tarno::NTRIPClient("127.0.0.1", "http", "RTCM3", kLat, kLon, kAlt, false),
               boost::system::system_error);
}

TEST_F(ConnectionTest, InvalidPositionThrowsBeforeAnyThreadStarts) {
  try {
    tarno::NTRIPClient("127.0.0.1", "2101", "RTCM3", 90.5, 0, 0, false);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Invalid latitude or longitude values");
  }
  EXPECT_FALSE(log.Contains("ReceiveRTCM Start"));
}

TEST_F(ConnectionTest, ClosingASocketThatWasNeverOpenedIsDisconnected) {
  tarno::NTRIPClient client("127.0.0.1", "2101", "RTCM3", kLat, kLon, kAlt, false, FastTiming());
  EXPECT_EQ(client.CloseConnection(), ClientState::Disconnected);
}

TEST_F(ConnectionTest, EndlessHeadersEndInErrorAtTheHeaderSizeBound) {
  caster::ReplayCaster server(Failing(caster::FaultMode::EndlessHeaders));
  auto client = Connect(Port(server));
  EXPECT_EQ(client->State(), ClientState::Error);
  EXPECT_TRUE(log.ContainsPrefix("Errors: Network Connection: response headers longer than 16384"));
}

TEST_F(ConnectionTest, SilentCasterEndsInErrorAtTheHeaderTimeBound) {
  caster::ReplayCaster server(Failing(caster::FaultMode::NeverAnswer));
  auto timing = FastTiming();
  timing.header_bound = 200ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  EXPECT_EQ(client->State(), ClientState::Error);
  EXPECT_TRUE(log.Contains("Errors: Network Connection: " + TimedOutText()));
}

TEST_F(ConnectionTest, Ipv6LoopbackCarriesTheStream) {
  caster::CasterOptions o = Options(RandomBytes(5000, 11));
  o.listen_address = "::1";
  o.max_bytes = 5000;
  caster::ReplayCaster server(o);
  auto client = Connect(Port(server), "RTCM3", FastTiming(), false, "::1");
  ASSERT_GE(connection_result, ClientState::Connected);
  const std::string received = Collect(*client, 5000);
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  EXPECT_TRUE(received == server.Connection(0).served);
  // An IPv6 literal is a valid Host only in brackets.
  EXPECT_EQ(server.Connection(0).request.find("Host: [::1]\r\n"), 21u);
}

}  // namespace
}  // namespace client_test
