#include "positions/live_nmea_source.h"
#include "eventually.h"

#include "loopback_server.h"
#include "nmea_text.h"

#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

namespace ntrip_host {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

LiveNmeaSettings QuickSettings() {
  LiveNmeaSettings settings;
  settings.first_retry = 10ms;
  settings.max_retry = 50ms;
  settings.stale_after = 60s;  // tests look at positions, not at their age
  settings.log = [](LogLevel, const std::string&) {};
  return settings;
}

std::string Gga(const char* time, const char* lat) {
  return Nmea("GNGGA," + std::string(time) + "," + lat +
              ",N,00700.000,E,5,12,0.8,250.0,M,47.0,M,,") +
         "\r\n";
}

void Send(asio::ip::tcp::socket& socket, const std::string& bytes) {
  asio::write(socket, asio::buffer(bytes));
}

TEST(NmeaOverTcp, SentencesSplitAcrossReadsGiveThePositionAndTheGstAccuracy) {
  LoopbackServer server;
  auto source = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, QuickSettings());
  auto receiver = server.Accept();
  ASSERT_TRUE(receiver);
  EXPECT_FALSE(source->Next());  // nothing received yet

  const std::string gga = Gga("080000.00", "4530.000");
  Send(*receiver, gga.substr(0, 20));
  Send(*receiver, gga.substr(20) + Nmea("GNGST,080000.00,1,1,1,0,0.3,0.4,1") + "\r\n" +
                      "$GNGGA,garbage*00\r\n");
  ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 3; }));

  const auto sample = source->Next();
  ASSERT_TRUE(sample);
  EXPECT_DOUBLE_EQ((*sample)[0], 45.5);
  EXPECT_DOUBLE_EQ((*sample)[2], 250.0);
  EXPECT_NEAR((*sample)[3], 0.5, 1e-12);
  const PositionCounters counters = source->Counters();
  EXPECT_EQ(counters.Count(NmeaStatus::kBadChecksum), 1u);
  EXPECT_EQ(counters.positions_produced, 1u);
}

TEST(NmeaOverTcp, ReconnectsWhenTheReceiverDropsAndReadsTheNewStream) {
  LoopbackServer server;
  auto source = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, QuickSettings());
  {
    auto first = server.Accept();
    ASSERT_TRUE(first);
    Send(*first, Gga("080000.00", "4500.000"));
    ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 1; }));
  }  // closed: the receiver went away
  auto second = server.Accept();
  ASSERT_TRUE(second) << "no reconnect";
  Send(*second, Gga("080001.00", "4600.000"));
  ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 2; }));
  EXPECT_DOUBLE_EQ((*source->Next())[0], 46.0);
}

TEST(NmeaOverTcp, ASilentConnectionIsAbandonedAndReconnected) {
  LoopbackServer server;
  LiveNmeaSettings settings = QuickSettings();
  settings.idle_timeout = 50ms;
  auto source = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, settings);
  auto first = server.Accept();
  ASSERT_TRUE(first);
  auto second = server.Accept();  // never sent anything on the first
  EXPECT_TRUE(second);
}

TEST(NmeaOverTcp, WorksOverIpv6Loopback) {
  LoopbackServer server("::1");
  auto source = LiveNmeaSource::Tcp({"::1", server.Port()}, QuickSettings());
  EXPECT_EQ(source->Description(), "NMEA over tcp://[::1]:" + std::to_string(server.Port()));
  auto receiver = server.Accept();
  ASSERT_TRUE(receiver);
  Send(*receiver, Gga("080000.00", "4500.000"));
  ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 1; }));
  EXPECT_TRUE(source->Next());
}

TEST(NmeaOverTcp, DestroyingTheSourceEndsItsWaitsWhateverItIsDoing) {
  // Retrying against a closed port.
  unsigned short closed_port = 0;
  {
    LoopbackServer probe;
    closed_port = probe.Port();
  }
  auto retrying = LiveNmeaSource::Tcp({"127.0.0.1", closed_port}, QuickSettings());
  // Connected to a receiver that says nothing.
  LoopbackServer server;
  auto reading = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, QuickSettings());
  ASSERT_TRUE(server.Accept());
  retrying.reset();
  reading.reset();
  SUCCEED();
}

TEST(NmeaOverTcp, APositionNotRefreshedWithinTheBoundIsNotHandedOut) {
  LoopbackServer server;
  LiveNmeaSettings settings = QuickSettings();
  settings.stale_after = -1ms;  // everything is already too old
  auto source = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, settings);
  auto receiver = server.Accept();
  ASSERT_TRUE(receiver);
  Send(*receiver, Gga("080000.00", "4500.000"));
  ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 1; }));
  EXPECT_FALSE(source->Next());
}

}  // namespace
}  // namespace ntrip_host
