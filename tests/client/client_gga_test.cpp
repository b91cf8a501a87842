// The GGA updates sent on the open connection, and the ways the GGA loop ends.
#include <atomic>
#include <cstdint>
#include <memory>

#include "client_fixture.h"
#include "replay_caster.h"

namespace client_test {
namespace {

using tarno::ClientState;

caster::CasterOptions StalledStream() {
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", RandomBytes(1000)}};
  o.rate = 0;
  o.fault = {caster::FaultMode::StallAfter, 100, ""};
  return o;
}

std::string Port(const caster::ReplayCaster& c) {
  return std::to_string(c.Port());
}

using GgaTest = ClientTest;

std::string SentenceAt(double lat, double lon, double alt, std::int64_t utc_seconds) {
  std::string s;
  tarno::GenerateGGA(lat, lon, alt, &s,
                     [utc_seconds] { return std::chrono::system_clock::from_time_t(utc_seconds); });
  return s;
}

TEST_F(GgaTest, UpdatesAreBareSentencesOfThePositionAndTimeOfTheMomentTheyLeave) {
  // An NTRIP 1.0 caster, silent after its answer: it reads no request header and waits for a
  // sentence in the stream.
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", ""}};
  o.fault = {caster::FaultMode::Answer, 0, "ICY 200 OK\r\n"};
  caster::ReplayCaster server(o);
  constexpr std::int64_t kStart = 1'700'000'000;
  auto utc = std::make_shared<std::atomic<std::int64_t>>(kStart);
  auto timing = FastTiming();
  timing.gga_period = 1s;
  timing.utc_clock = [utc] { return std::chrono::system_clock::from_time_t(utc->load()); };
  auto client = Connect(Port(server), "RTCM3", timing);
  ASSERT_EQ(connection_result, ClientState::Connected);

  // The first sentence left with the answer; each later one carries what the client holds when
  // it leaves, set here right after the one before arrived.
  std::string expected = SentenceAt(kLat, kLon, kAlt, kStart);
  const double moves[2][3] = {{-33.8568, -70.6483, 520.25}, {48.5, 11.25, 500}};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::int64_t when = kStart + 10 * static_cast<std::int64_t>(i + 1);
    utc->store(when);
    client->SetPosition(tarno::GpsCoordinate(moves[i][0], moves[i][1], moves[i][2]));
    expected += SentenceAt(moves[i][0], moves[i][1], moves[i][2], when);
    // The request's header sentence, the one sent at once, then one per period.
    ASSERT_TRUE(
        server.WaitUntil([&](const auto& c) { return c.Connection(0).gga.size() >= i + 3; }, 10s));
  }
  // The loop logs each sentence after it left: the caster may read the second one first.
  ASSERT_TRUE(log.WaitFor("Sent the lasted GGA to the Server", 5s, 2));
  client->_ActiveShutdownSendGGAtoServer();
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  const caster::ConnectionRecord record = server.Connection(0);
  EXPECT_EQ(record.received.substr(record.request.size()), expected);
  EXPECT_NE(record.request.find("\r\nNtrip-GGA:$GPGGA,"), std::string::npos);
  EXPECT_EQ(log.Count("Sent the lasted GGA to the Server"), 2u);
}

TEST_F(GgaTest, ShutdownDuringTheWaitEndsTheLoopWithoutSending) {
  caster::ReplayCaster server(StalledStream());
  auto client = Connect(Port(server));
  ASSERT_GE(client->State(), ClientState::Connected);
  // The loop waits at once; a shutdown before its wait is seen when the wait begins.
  ASSERT_TRUE(log.WaitFor("SendGGAtoServer Start", 5s));
  client->_ActiveShutdownSendGGAtoServer();
  ASSERT_TRUE(log.WaitFor("SendGGAtoServer End", 5s));
  EXPECT_TRUE(log.Contains("Leaving SendGGAtoServer. !_stop_send_gga_to_server = true"));
  EXPECT_FALSE(log.Contains("Sent the lasted GGA to the Server"));
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));
  EXPECT_EQ(server.Connection(0).received, server.Connection(0).request);
}

TEST_F(GgaTest, ClosedSocketEndsTheLoopAtTheEndOfItsWait) {
  caster::ReplayCaster server(StalledStream());
  auto timing = FastTiming();
  timing.gga_period = 200ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  ASSERT_GE(client->State(), ClientState::Connected);
  EXPECT_EQ(client->CloseConnection(), ClientState::Disconnected);
  ASSERT_TRUE(log.WaitFor("SendGGAtoServer End", 5s));
  EXPECT_TRUE(log.Contains("The socket is close cannot send GGA"));
  EXPECT_TRUE(log.Contains("Leaving SendGGAtoServer"));
}

TEST_F(GgaTest, SocketOpenBeforeTheRequestMakesThePassWait) {
  caster::ReplayCaster server(StalledStream());
  auto timing = FastTiming();
  timing.gga_period = 100ms;
  tarno::NTRIPClient client("127.0.0.1", Port(server), "RTCM3", kLat, kLon, kAlt, false, timing);
  ASSERT_EQ(client.InitSocket(), ClientState::SocketConnected);
  // On a machine slow enough the first pass ends before the socket exists, which ends the loop.
  EXPECT_TRUE(
      log.WaitForPrefix({"Cannot send GGA, waiting", "The socket is close cannot send GGA"}, 5s));
  EXPECT_FALSE(log.Contains("Sent the lasted GGA to the Server"));
}

}  // namespace
}  // namespace client_test
