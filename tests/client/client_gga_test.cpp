// The GGA updates sent on the open connection, and the ways the GGA loop ends.
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

TEST_F(GgaTest, UpdatesLeaveEachPeriodWithTheExactBytesOfTheHeldPosition) {
  caster::ReplayCaster server(StalledStream());
  auto timing = FastTiming();
  timing.gga_period = 300ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  ASSERT_GE(client->State(), ClientState::Connected);

  const auto updates = [](const caster::ReplayCaster& c) { return c.Connection(0).gga.size(); };
  ASSERT_TRUE(server.WaitUntil([&](const auto& c) { return updates(c) >= 3; }, 10s));
  client->SetPosition(tarno::GpsCoordinate(-33.8568, -70.6483, 520.25));
  const std::string moved = Sentence(-33.8568, -70.6483, 520.25);
  const std::string moved_sentence = moved.substr(0, moved.size() - 2);
  ASSERT_TRUE(server.WaitUntil(
      [&](const auto& c) {
        const auto gga = c.Connection(0).gga;
        return !gga.empty() && gga.back() == moved_sentence;
      },
      10s));
  client->_ActiveShutdownSendGGAtoServer();
  ASSERT_TRUE(log.WaitFor("SendGGAtoServer End", 5s));
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 5s));

  // After the request, the connection carries nothing but whole updates.
  const caster::ConnectionRecord record = server.Connection(0);
  std::string rest = record.received.substr(record.request.size());
  const std::string first = "Ntrip-GGA:" + Sentence(kLat, kLon, kAlt) + "\r\n";
  const std::string second = "Ntrip-GGA:" + moved + "\r\n";
  std::size_t firsts = 0, seconds = 0;
  while (!rest.empty()) {
    if (rest.rfind(first, 0) == 0) {
      ++firsts;
      rest.erase(0, first.size());
    } else {
      ASSERT_EQ(rest.rfind(second, 0), 0u) << rest;
      ++seconds;
      rest.erase(0, second.size());
    }
  }
  EXPECT_GE(firsts, 2u);
  EXPECT_GE(seconds, 1u);
  EXPECT_EQ(log.Count("Sent the lasted GGA to the Server"), firsts + seconds);
  EXPECT_TRUE(log.Contains("GPS Coordinate: -33.856800, -70.648300"));
}

TEST_F(GgaTest, ShutdownDuringTheWaitEndsTheLoopWithoutSending) {
  caster::ReplayCaster server(StalledStream());
  auto client = Connect(Port(server));
  ASSERT_GE(client->State(), ClientState::Connected);
  // The pass logs this under the lock it releases only for its wait.
  ASSERT_TRUE(log.WaitForPrefix({"GPS Coordinate: "}, 5s));
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
