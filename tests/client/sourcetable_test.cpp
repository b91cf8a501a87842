// Reading a caster's sourcetable, ranking its streams, and fetching it from a caster.
#include <chrono>
#include <future>
#include <stop_token>

#include <gtest/gtest.h>

#include "raw_server.h"
#include "replay_caster.h"
#include "sourcetable.h"
#include "sourcetable_fetch.h"

namespace client_test {
namespace {

using namespace std::chrono_literals;

constexpr char kTable[] =
    "CAS;caster.example;2101;EX;Example Op;0;FRA;48.85;2.35;fallback.example;2102;http://x\r\n"
    "NET;EXNET;Example Op;B;N;http://net;http://str;mail@example;none\r\n"
    "STR;PARIS;Paris;RTCM 3.2;1004(1),1005(10);2;GPS+GLO;EXNET;FRA;48.86;2.29;1;0;sNTRIP;none;B;N;"
    "9600;misc;with;separators\r\n"
    "STR;LYON;Lyon;RTCM 3;1077(1);2;GPS;EXNET;FRA;45.76;4.84;0;1;gen;none;N;Y;4800\n"
    "STR;EAST360;Far;CMR+;;;GPS;EXNET;JPN;35.0;359.0;0;0;gen;none;N;N;\r\n"
    "STR;SHORT;too;few;fields\r\n"
    "STR;BADLAT;x;RTCM 3;;2;GPS;N;FRA;north;2.0;0;0;g;none;N;N;0;\r\n"
    "STR;BADNMEA;x;RTCM 3;;2;GPS;N;FRA;1.0;2.0;yes;0;g;none;N;N;0;\r\n"
    "CAS;nohost;port;x;y;0;FRA;1;2\r\n"
    "<html>not a row</html>\r\n"
    "\r\n"
    "ENDSOURCETABLE\r\n"
    "STR;AFTER;ignored;RTCM 3;;2;GPS;N;FRA;1;2;0;0;g;none;N;N;0;\r\n";

TEST(SourcetableTest, RowsAreReadWithEveryFieldAndBadRowsAreCountedNotFatal) {
  const tarno::Sourcetable table = tarno::ParseSourcetable(kTable);
  EXPECT_TRUE(table.complete);
  EXPECT_EQ(table.malformed_rows, 4u);  // SHORT, BADNMEA, the bad CAS, the HTML line
  // A latitude that is no number leaves the position unknown; the stream is still served.
  ASSERT_EQ(table.streams.size(), 4u);
  EXPECT_EQ(table.streams[3].mountpoint, "BADLAT");
  EXPECT_FALSE(table.streams[3].located);
  EXPECT_TRUE(table.streams[0].located);
  const auto& paris = table.streams[0];
  EXPECT_EQ(paris.mountpoint, "PARIS");
  EXPECT_EQ(paris.identifier, "Paris");
  EXPECT_EQ(paris.format, "RTCM 3.2");
  EXPECT_EQ(paris.format_details, "1004(1),1005(10)");
  EXPECT_EQ(paris.carrier, 2);
  EXPECT_EQ(paris.nav_systems, "GPS+GLO");
  EXPECT_EQ(paris.network, "EXNET");
  EXPECT_EQ(paris.country, "FRA");
  EXPECT_DOUBLE_EQ(paris.latitude, 48.86);
  EXPECT_DOUBLE_EQ(paris.longitude, 2.29);
  EXPECT_TRUE(paris.nmea);
  EXPECT_FALSE(paris.network_solution);
  EXPECT_EQ(paris.generator, "sNTRIP");
  EXPECT_EQ(paris.compression, "none");
  EXPECT_EQ(paris.authentication, "B");
  EXPECT_EQ(paris.fee, "N");
  EXPECT_EQ(paris.bitrate, 9600);
  EXPECT_EQ(paris.misc, "misc;with;separators");
  EXPECT_TRUE(table.streams[1].network_solution);
  EXPECT_EQ(table.streams[1].misc, "");                // a row without its last field is whole
  EXPECT_DOUBLE_EQ(table.streams[2].longitude, -1.0);  // 0 to 360 folded
  EXPECT_EQ(table.streams[2].carrier, 0);              // blank numbers read as zero

  ASSERT_EQ(table.casters.size(), 1u);
  EXPECT_EQ(table.casters[0].host, "caster.example");
  EXPECT_EQ(table.casters[0].port, 2101);
  EXPECT_EQ(table.casters[0].fallback_port, 2102);
  ASSERT_EQ(table.networks.size(), 1u);
  EXPECT_EQ(table.networks[0].identifier, "EXNET");
  EXPECT_EQ(table.networks[0].web_registration, "mail@example");

  EXPECT_TRUE(tarno::IsRtcm3Format("RTCM 3.2"));
  EXPECT_TRUE(tarno::IsRtcm3Format("RTCM3"));
  EXPECT_FALSE(tarno::IsRtcm3Format("RTCM 2.3"));
  EXPECT_FALSE(tarno::IsRtcm3Format("RTCM 32"));
}

TEST(SourcetableTest, StreamsAreRankedByGreatCircleDistance) {
  // Paris to London, about 344 km.
  EXPECT_NEAR(tarno::DistanceKm(48.8566, 2.3522, 51.5074, -0.1278), 343.6, 1.0);
  EXPECT_NEAR(tarno::DistanceKm(0, 179.5, 0, -179.5), 111.2, 0.5);  // across the date line
  const tarno::Sourcetable table = tarno::ParseSourcetable(kTable);
  const auto ranked = tarno::SortByDistance(table.streams, 45.0, 4.0);  // near Lyon
  ASSERT_EQ(ranked.size(), 4u);
  EXPECT_EQ(ranked[3].stream.mountpoint, "BADLAT");  // no position: after every distance
  EXPECT_LT(ranked[3].distance_km, 0);
  EXPECT_EQ(ranked[0].stream.mountpoint, "LYON");
  EXPECT_EQ(ranked[1].stream.mountpoint, "PARIS");
  EXPECT_EQ(ranked[2].stream.mountpoint, "EAST360");
  EXPECT_LT(ranked[0].distance_km, ranked[1].distance_km);
}

tarno::CasterAddress Address(const std::string& port) {
  return {"127.0.0.1", port, "user", "secret", "", false, "", {}};
}

TEST(SourcetableFetchTest, TheReplayCasterAnswersGetSlashWithItsMountPoints) {
  caster::CasterOptions o;
  o.mounts = {{"ALPHA", "x"}, {"BETA", "y"}};
  caster::ReplayCaster server(o);
  auto address = Address(std::to_string(server.Port()));
  address.gga = "$GPGGA,1*00\r\n";
  const auto fetched = tarno::FetchSourcetable(address);
  ASSERT_EQ(fetched.refusal.text, "");
  EXPECT_EQ(fetched.status_line, "HTTP/1.1 200 OK");
  ASSERT_EQ(fetched.table.streams.size(), 2u);
  EXPECT_EQ(fetched.table.streams[1].mountpoint, "BETA");
  EXPECT_TRUE(fetched.table.complete);
  EXPECT_EQ(server.Connection(0).request,
            "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n"
            "Ntrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP NTRIP_Client/1.0\r\n"
            "Ntrip-GGA:$GPGGA,1*00\r\n\r\n\r\n");
}

TEST(SourcetableFetchTest, NtripOneChunkedAndUnframedAnswersAllGiveTheTable) {
  const std::string body =
      "STR;M1;m;RTCM 3;;2;GPS;N;FRA;1;2;0;0;g;none;N;N;0;\r\nENDSOURCETABLE\r\n";
  char size_line[16];
  std::snprintf(size_line, sizeof size_line, "%zX\r\n", body.size() - 5);
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                              std::string(size_line) + body.substr(0, body.size() - 5) +
                              "\r\n5\r\n" + body.substr(body.size() - 5) + "\r\n0\r\n\r\n";
  for (const std::string& answer :
       {"SOURCETABLE 200 OK\r\nServer: x\r\nContent-Type: text/plain\r\n\r\n" + body, chunked,
        "HTTP/1.0 200 OK\r\n\r\n" + body.substr(0, body.size() - 16)}) {
    // Kept open: the end line or the framing, not the close, ends the first two.
    RawServer server(answer, answer.rfind("HTTP/1.0", 0) == 0);
    const auto fetched = tarno::FetchSourcetable(Address(server.Port()));
    EXPECT_EQ(fetched.refusal.text, "") << answer;
    ASSERT_EQ(fetched.table.streams.size(), 1u) << answer;
    EXPECT_EQ(fetched.table.streams[0].mountpoint, "M1");
  }
}

TEST(SourcetableFetchTest, RefusalsOversizeAndSilenceAreErrors) {
  RawServer refused("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n", true);
  EXPECT_EQ(tarno::FetchSourcetable(Address(refused.Port())).refusal.text,
            "caster refused the user name or password for the sourcetable (HTTP/1.1 401 "
            "Unauthorized)");

  RawServer oversize(
      "SOURCETABLE 200 OK\r\n\r\n" + std::string(tarno::kMaxSourcetableBytes + 10, 'x'), false);
  EXPECT_EQ(tarno::FetchSourcetable(Address(oversize.Port())).refusal.text,
            "sourcetable longer than 1048576 bytes");

  RawServer cut("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\nSTR;", true);
  EXPECT_EQ(tarno::FetchSourcetable(Address(cut.Port())).refusal.text,
            "the sourcetable was cut short");

  caster::CasterOptions o;
  o.fault.mode = caster::FaultMode::NeverAnswer;
  caster::ReplayCaster silent(o);
  tarno::ClientTiming timing;
  timing.header_bound = 200ms;
  EXPECT_EQ(tarno::FetchSourcetable(Address(std::to_string(silent.Port())), timing).refusal.text,
            "127.0.0.1:" + std::to_string(silent.Port()) +
                " gave no usable answer for the sourcetable (no complete answer in time): check ip "
                "and port");
}

TEST(SourcetableFetchTest, AStopEndsAFetchFromACasterThatNeverAnswers) {
  caster::CasterOptions o;
  o.fault.mode = caster::FaultMode::NeverAnswer;
  caster::ReplayCaster silent(o);
  std::stop_source stop;
  auto fetch = std::async(std::launch::async, [&] {
    return tarno::FetchSourcetable(Address(std::to_string(silent.Port())), tarno::ClientTiming(),
                                   stop.get_token());
  });
  // The caster holds the request: without the stop the fetch would wait out the head's 10 s.
  ASSERT_TRUE(silent.WaitUntil(
      [](const caster::ReplayCaster& c) { return !c.Connection(0).request.empty(); }, 30s));
  const auto stopped_at = std::chrono::steady_clock::now();
  stop.request_stop();
  ASSERT_EQ(fetch.wait_for(30s), std::future_status::ready);  // bounds a hang only
  EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, 3s);
  EXPECT_NE(fetch.get().refusal.kind, tarno::Refusal::Kind::None);
}

}  // namespace
}  // namespace client_test
