// State-space correction messages: headers of the six systems, the satellite blocks, the stop
// rule, the code-bias signal tables, and a real recording of Galileo and BeiDou corrections.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm/ssr.h"
#include "nav_test_support.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;
using fixtures::FrameOf;
using fixtures::WrapFrame;

using nav_test::Calendar;

// "Now" is GPS week 2304, time of week 302418 s.
using nav_test::kNowUtc;
constexpr int kWeek = 2304;
constexpr uint32_t kEpochTow = 302410;  // 12:00:10 GPS time

using nav_test::SameTime;
#ifdef RTCM3_SUMMARY_PATH
using nav_test::SummaryJson;
#endif

// Width of the satellite ID, IODE and IOD CRC of each system's blocks.
struct BlockWidths {
  int id;
  int iode;
  int iod_crc;
};
BlockWidths WidthsOf(int sys) {
  switch (sys) {
    case SYS_GLONASS:
      return {5, 8, 0};
    case SYS_GALILEO:
      return {6, 10, 0};
    case SYS_QZSS:
      return {4, 8, 0};
    case SYS_SBAS:
      return {6, 9, 24};
    case SYS_BEIDOU:
      return {6, 10, 24};
    default:
      return {6, 8, 0};
  }
}

// Header fields; `orbit_header` selects the layout with the reference datum bit.
struct Header {
  int sys = SYS_GPS;
  bool orbit_header = true;
  uint32_t epoch = kEpochTow;
  int udi = 5;  // 30 s
  int sync = 0;
  int datum = 1;
  int iod = 9;
  int nsat = 0;

  void Write(BitWriter& w) const {
    w.Unsigned(epoch, sys == SYS_GLONASS ? 17 : 20).Unsigned(udi, 4).Unsigned(sync, 1);
    if (orbit_header) w.Unsigned(datum, 1);
    w.Unsigned(iod, 4).Unsigned(0xBEEF, 16).Unsigned(0xA, 4);  // provider, solution
    w.Unsigned(nsat, sys == SYS_QZSS ? 4 : 6);
  }
};

struct Orbit {
  int id = 5;
  int iode = 77;
  uint32_t iod_crc = 0;
  int64_t values[6] = {-12345, 2345, -345, 45678, -5678, 678};

  void Write(BitWriter& w, int sys) const {
    const BlockWidths widths = WidthsOf(sys);
    w.Unsigned(id, widths.id).Unsigned(iode, widths.iode).Unsigned(iod_crc, widths.iod_crc);
    const int lengths[6] = {22, 20, 20, 21, 19, 19};
    for (int i = 0; i < 6; ++i) w.Signed(values[i], lengths[i]);
  }
};

struct Clock {
  int64_t values[3] = {-54321, 4321, -321};
  void Write(BitWriter& w) const {
    w.Signed(values[0], 22).Signed(values[1], 21).Signed(values[2], 27);
  }
};

void ExpectOrbit(const SsrCorrection& rec, const Orbit& orbit) {
  EXPECT_EQ(rec.iode, orbit.iode);
  EXPECT_EQ(rec.iod_crc, static_cast<int>(orbit.iod_crc));
  EXPECT_DOUBLE_EQ(rec.orbit[0], orbit.values[0] * 0.0001);
  EXPECT_DOUBLE_EQ(rec.orbit[1], orbit.values[1] * 0.0004);
  EXPECT_DOUBLE_EQ(rec.orbit[2], orbit.values[2] * 0.0004);
  EXPECT_DOUBLE_EQ(rec.orbit_rate[0], orbit.values[3] * 0.000001);
  EXPECT_DOUBLE_EQ(rec.orbit_rate[1], orbit.values[4] * 0.000004);
  EXPECT_DOUBLE_EQ(rec.orbit_rate[2], orbit.values[5] * 0.000004);
}

void ExpectClock(const SsrCorrection& rec, const Clock& clock) {
  EXPECT_DOUBLE_EQ(rec.clock[0], clock.values[0] * 0.0001);
  EXPECT_DOUBLE_EQ(rec.clock[1], clock.values[1] * 0.000001);
  EXPECT_DOUBLE_EQ(rec.clock[2], clock.values[2] * 0.00000002);
}

class SsrTest : public nav_test::NavDecoderTest {
 protected:
  const SsrCorrection& Ssr(int sat) const { return dec->ssr[sat - 1]; }
  GnssTime Epoch() const { return time_from_gps_week(kWeek, kEpochTow); }
  bool NothingStored() const {
    for (int sat = 1; sat <= MAX_SAT; ++sat)
      if (Ssr(sat).update != 0) return false;
    return true;
  }
};

std::vector<uint8_t> OrbitFrame(int type, const Header& header, const std::vector<Orbit>& blocks) {
  BitWriter w;
  header.Write(w);
  for (const Orbit& orbit : blocks) orbit.Write(w, header.sys);
  return FrameOf(type, w);
}

// --- orbit, clock, orbit and clock, URA, high-rate clock ----------------------------------

TEST_F(SsrTest, GpsOrbitIsStoredPerSatelliteWithEpochIntervalAndIod) {
  Orbit first;
  Orbit second;
  second.id = 7;
  second.iode = 12;
  second.values[0] = 2097151;  // largest 22-bit value
  Header header;
  header.nsat = 2;
  ASSERT_EQ(Feed(OrbitFrame(1057, header, {first, second})), 10);

  ExpectOrbit(Ssr(5), first);
  ExpectOrbit(Ssr(7), second);
  const SsrCorrection& rec = Ssr(5);
  EXPECT_EQ(rec.reference_datum, 1);
  EXPECT_EQ(rec.update, 1);
  EXPECT_TRUE(SameTime(rec.epoch[0], Epoch()));
  EXPECT_EQ(rec.update_interval[0], 30.0);
  EXPECT_EQ(rec.iod_ssr[0], 9);
  for (int kind = 1; kind < SSR_KINDS; ++kind) EXPECT_EQ(rec.epoch[kind].time, 0) << kind;
  EXPECT_TRUE(SameTime(dec->time, Epoch()));
  EXPECT_EQ(dec->message_counts[57], 1u);
}

TEST_F(SsrTest, AnnouncedSatelliteWhoseBlockDoesNotFitEndsTheMessage) {
  for (const int sync : {0, 1}) {
    SCOPED_TRACE(sync);
    ASSERT_EQ(init_rtcm(dec.get()), 1);
    Orbit first;
    Orbit second;
    second.id = 7;
    Header header;
    header.nsat = 3;
    header.sync = sync;
    BitWriter w;
    header.Write(w);
    first.Write(w, SYS_GPS);
    second.Write(w, SYS_GPS);
    // The third block lacks its last 4 bits: with the padding the frame ends 1 bit short.
    w.Unsigned(9, 6).Unsigned(1, 8).Unsigned(0, 22 + 20 + 20 + 21 + 19).Unsigned(0, 15);
    EXPECT_EQ(Feed(FrameOf(1057, w)), sync ? 0 : 10);
    EXPECT_EQ(Ssr(5).update, 1);
    EXPECT_EQ(Ssr(7).update, 1);
    int stored = 0;
    for (int sat = 1; sat <= MAX_SAT; ++sat) stored += Ssr(sat).update;
    EXPECT_EQ(stored, 2);
  }
}

TEST_F(SsrTest, MultipleMessageIndicatorTurnsTheResultToZeroButStillStores) {
  Header header;
  header.nsat = 1;
  header.sync = 1;
  EXPECT_EQ(Feed(OrbitFrame(1057, header, {Orbit{}})), 0);
  EXPECT_EQ(Ssr(5).update, 1);
  EXPECT_EQ(dec->message_counts[57], 1u);
}

TEST_F(SsrTest, BlockOfASatelliteWithoutNumberIsConsumedAndSkipped) {
  Orbit unnumbered;
  unnumbered.id = 0;  // GPS ID 0 has no satellite number
  Orbit numbered;
  numbered.id = 32;
  Header header;
  header.nsat = 2;
  ASSERT_EQ(Feed(OrbitFrame(1057, header, {unnumbered, numbered})), 10);
  ExpectOrbit(Ssr(32), numbered);
  int stored = 0;
  for (int sat = 1; sat <= MAX_SAT; ++sat) stored += Ssr(sat).update;
  EXPECT_EQ(stored, 1);
}

TEST_F(SsrTest, GpsClockIsStoredAsPolynomialInMetres) {
  Header header;
  header.orbit_header = false;
  header.nsat = 1;
  header.udi = 15;
  BitWriter w;
  header.Write(w);
  const Clock clock;
  w.Unsigned(3, 6);
  clock.Write(w);
  ASSERT_EQ(Feed(FrameOf(1058, w)), 10);
  ExpectClock(Ssr(3), clock);
  EXPECT_TRUE(SameTime(Ssr(3).epoch[1], Epoch()));
  EXPECT_EQ(Ssr(3).update_interval[1], 10800.0);
  EXPECT_EQ(Ssr(3).epoch[0].time, 0);
}

TEST_F(SsrTest, OrbitAndClockSetsBothKindsToTheSameEpochAndIod) {
  Header header;
  header.nsat = 1;
  header.iod = 14;
  header.udi = 0;
  BitWriter w;
  header.Write(w);
  Orbit orbit;
  orbit.id = 9;
  const Clock clock;
  orbit.Write(w, SYS_GPS);
  clock.Write(w);
  ASSERT_EQ(Feed(FrameOf(1060, w)), 10);
  const SsrCorrection& rec = Ssr(9);
  ExpectOrbit(rec, orbit);
  ExpectClock(rec, clock);
  EXPECT_TRUE(SameTime(rec.epoch[0], Epoch()));
  EXPECT_TRUE(SameTime(rec.epoch[1], Epoch()));
  EXPECT_EQ(rec.iod_ssr[0], 14);
  EXPECT_EQ(rec.iod_ssr[1], 14);
  EXPECT_EQ(rec.update_interval[0], 1.0);
  EXPECT_EQ(rec.update_interval[1], 1.0);
}

TEST_F(SsrTest, UraAndHighRateClockStoreTheirOwnKinds) {
  Header header;
  header.orbit_header = false;
  header.nsat = 1;
  BitWriter ura;
  header.Write(ura);
  ura.Unsigned(4, 6).Unsigned(0x2B, 6);
  ASSERT_EQ(Feed(FrameOf(1061, ura)), 10);
  EXPECT_EQ(Ssr(4).ura, 0x2B);
  EXPECT_TRUE(SameTime(Ssr(4).epoch[3], Epoch()));

  header.udi = 2;
  BitWriter high_rate;
  header.Write(high_rate);
  high_rate.Unsigned(4, 6).Signed(-2097152, 22);  // most negative 22-bit value
  ASSERT_EQ(Feed(FrameOf(1062, high_rate)), 10);
  EXPECT_DOUBLE_EQ(Ssr(4).high_rate_clock, -209.7152);
  EXPECT_TRUE(SameTime(Ssr(4).epoch[2], Epoch()));
  EXPECT_EQ(Ssr(4).update_interval[2], 5.0);
  EXPECT_EQ(Ssr(4).update_interval[3], 30.0);  // the URA kind keeps its own interval
}

// --- code biases ---------------------------------------------------------------------------

std::vector<uint8_t> CodeBiasFrame(int type, int sys, int id,
                                   const std::vector<std::pair<int, int>>& biases,
                                   int announced = -1) {
  Header header;
  header.sys = sys;
  header.orbit_header = false;
  header.nsat = 1;
  if (sys == SYS_GLONASS) header.epoch = 54000;
  BitWriter w;
  header.Write(w);
  w.Unsigned(id, WidthsOf(sys).id);
  w.Unsigned(announced < 0 ? biases.size() : announced, 5);
  for (const auto& [indicator, bias] : biases) w.Unsigned(indicator, 5).Signed(bias, 14);
  return FrameOf(type, w);
}

TEST_F(SsrTest, GpsCodeBiasesLandAtTheirObservationCodes) {
  ASSERT_EQ(Feed(CodeBiasFrame(1059, SYS_GPS, 5, {{0, -123}, {16, 456}})), 10);
  const SsrCorrection& rec = Ssr(5);
  EXPECT_FLOAT_EQ(rec.code_bias[0], -1.23f);  // "1C"
  EXPECT_FLOAT_EQ(rec.code_bias[25], 4.56f);  // "5X"
  for (int i = 0; i < MAX_CODE; ++i) {
    if (i != 0 && i != 25) {
      EXPECT_EQ(rec.code_bias[i], 0.0f) << i;
    }
  }
  EXPECT_TRUE(SameTime(rec.epoch[4], Epoch()));
}

TEST_F(SsrTest, CodeBiasMessageReplacesTheWholeList) {
  ASSERT_EQ(Feed(CodeBiasFrame(1059, SYS_GPS, 5, {{11, 300}, {0, 100}})), 10);
  EXPECT_EQ(Ssr(5).code_bias[19], 3.0f);  // "2W"
  ASSERT_EQ(Feed(CodeBiasFrame(1059, SYS_GPS, 5, {{0, 200}})), 10);
  EXPECT_EQ(Ssr(5).code_bias[19], 0.0f);
  EXPECT_EQ(Ssr(5).code_bias[0], 2.0f);
}

TEST_F(SsrTest, IndicatorsOutsideTheSignalTableAreSkipped) {
  ASSERT_EQ(Feed(CodeBiasFrame(1059, SYS_GPS, 5, {{17, 999}, {31, 999}, {1, 50}})), 10);
  EXPECT_FLOAT_EQ(Ssr(5).code_bias[1], 0.5f);  // "1P"
  int nonzero = 0;
  for (const float bias : Ssr(5).code_bias) nonzero += bias != 0.0f;
  EXPECT_EQ(nonzero, 1);

  ASSERT_EQ(Feed(CodeBiasFrame(1065, SYS_GLONASS, 1, {{4, 999}, {3, -75}})), 10);
  const SsrCorrection& glonass = Ssr(34);
  EXPECT_FLOAT_EQ(glonass.code_bias[18], -0.75f);  // "2P"
  nonzero = 0;
  for (const float bias : glonass.code_bias) nonzero += bias != 0.0f;
  EXPECT_EQ(nonzero, 1);
}

TEST_F(SsrTest, BiasesThatDoNotFitAreNotRead) {
  // Three announced, two present: the third would read the padding.
  ASSERT_EQ(Feed(CodeBiasFrame(1059, SYS_GPS, 5, {{0, 100}, {1, 200}}, 3)), 10);
  EXPECT_EQ(Ssr(5).code_bias[0], 1.0f);
  EXPECT_EQ(Ssr(5).code_bias[1], 2.0f);
  EXPECT_EQ(Ssr(5).update, 1);
}

TEST_F(SsrTest, SbasAndQzssCodeBiasTablesAreTheirOwn) {
  // SBAS ID 0 is PRN 120, satellite 33; its indicator 3 is "5X".
  ASSERT_EQ(Feed(CodeBiasFrame(1254, SYS_SBAS, 0, {{3, 10}, {4, 999}})), 10);
  EXPECT_FLOAT_EQ(Ssr(33).code_bias[25], 0.1f);
  // QZSS satellites have no number: the message is read and nothing is stored.
  ASSERT_EQ(Feed(CodeBiasFrame(1248, SYS_QZSS, 3, {{12, 10}})), 10);
  int stored = 0;
  for (int sat = 1; sat <= MAX_SAT; ++sat) stored += Ssr(sat).update;
  EXPECT_EQ(stored, 1);
}

// --- system layouts ------------------------------------------------------------------------

TEST_F(SsrTest, GlonassBlocksHaveFiveBitIdsAndOnlySlotOneIsStored) {
  Header header;
  header.sys = SYS_GLONASS;
  header.epoch = 54000;  // 15:00 GLONASS time = 12:00 UTC
  header.nsat = 2;
  Orbit slot2;
  slot2.id = 2;
  Orbit slot1;
  slot1.id = 1;
  slot1.iode = 33;
  ASSERT_EQ(Feed(OrbitFrame(1063, header, {slot2, slot1})), 10);
  ExpectOrbit(Ssr(34), slot1);
  EXPECT_TRUE(SameTime(dec->time, utc_to_gps_time(kNowUtc)));
  EXPECT_TRUE(SameTime(Ssr(34).epoch[0], dec->time));
}

TEST_F(SsrTest, SbasOrbitCarriesNineBitIodeAndIodCrc) {
  Header header;
  header.sys = SYS_SBAS;
  header.nsat = 2;
  Orbit prn120;
  prn120.id = 0;
  prn120.iode = 300;
  prn120.iod_crc = 0xABCDEF;
  Orbit prn142;
  prn142.id = 22;
  prn142.iode = 511;
  prn142.iod_crc = 0x123456;
  ASSERT_EQ(Feed(OrbitFrame(1252, header, {prn120, prn142})), 10);
  ExpectOrbit(Ssr(33), prn120);
  ExpectOrbit(Ssr(55), prn142);
}

TEST_F(SsrTest, GalileoBeidouAndQzssOrbitsAreReadButNeverStored) {
  const struct {
    int type;
    int sys;
  } cases[] = {{1240, SYS_GALILEO}, {1258, SYS_BEIDOU}, {1246, SYS_QZSS}};
  for (const auto& c : cases) {
    Header header;
    header.sys = c.sys;
    header.nsat = 3;
    std::vector<Orbit> blocks(3);
    for (int i = 0; i < 3; ++i) blocks[i].id = i + 1;
    EXPECT_EQ(Feed(OrbitFrame(c.type, header, blocks)), 10) << c.type;
    EXPECT_EQ(dec->message_counts[c.type - 1000], 1u) << c.type;
  }
  EXPECT_TRUE(NothingStored());
  EXPECT_TRUE(SameTime(dec->time, Epoch()));  // the header still moves the decoder's time
}

TEST_F(SsrTest, HeadersBeginTheBlocksWhereEachSystemSays) {
  const struct {
    int type;
    int sys;
    bool orbit_header;
    int begin;
  } cases[] = {{1057, SYS_GPS, true, 92},     {1058, SYS_GPS, false, 91},
               {1063, SYS_GLONASS, true, 89}, {1064, SYS_GLONASS, false, 88},
               {1246, SYS_QZSS, true, 90},    {1247, SYS_QZSS, false, 89},
               {1252, SYS_SBAS, true, 92},    {1259, SYS_BEIDOU, false, 91}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Header header;
    header.sys = c.sys;
    header.orbit_header = c.orbit_header;
    header.nsat = c.sys == SYS_QZSS ? 13 : 0;
    header.udi = 12;
    header.sync = 1;
    header.iod = 6;
    if (c.sys == SYS_GLONASS) header.epoch = 54000;
    BitWriter w;
    header.Write(w);
    w.Unsigned(0xFFFF, 16);  // nonzero bits after the header
    ASSERT_GE(Feed(FrameOf(c.type, w)), 0);
    int sync = -1, iod = -1, datum = -1, begin = -1;
    double interval = -1.0;
    const int nsat =
        c.orbit_header ? decode_ssr1_head(dec.get(), c.sys, &sync, &iod, &interval, &datum, &begin)
                       : decode_ssr2_head(dec.get(), c.sys, &sync, &iod, &interval, &begin);
    EXPECT_EQ(nsat, header.nsat);
    EXPECT_EQ(begin, c.begin);
    EXPECT_EQ(sync, 1);
    EXPECT_EQ(iod, 6);
    EXPECT_EQ(interval, 1800.0);
    if (c.orbit_header) {
      EXPECT_EQ(datum, 1);
    }
  }
}

TEST_F(SsrTest, HeaderLongerThanTheFrameIsAnErrorThatLeavesTheTimeAlone) {
  Header glonass;
  glonass.sys = SYS_GLONASS;
  glonass.orbit_header = false;
  glonass.epoch = 54000;
  BitWriter w;
  glonass.Write(w);
  const std::vector<uint8_t> glonass_frame = FrameOf(1064, w);
  ASSERT_EQ(glonass_frame.size(), 11u + 3u);  // 88 bits: exactly the GLONASS header
  EXPECT_EQ(Feed(glonass_frame), 10);

  ASSERT_EQ(init_rtcm(dec.get()), 1);
  Header gps;
  gps.orbit_header = false;
  BitWriter g;
  g.Unsigned(1058, 12);
  gps.Write(g);
  const std::vector<uint8_t> message(g.bytes().begin(), g.bytes().begin() + 8);
  EXPECT_EQ(Feed(WrapFrame(message)), -1);  // 88 bits, 91 needed
  EXPECT_EQ(dec->time.time, 0);
  EXPECT_EQ(dec->message_counts[58], 0u);
}

TEST_F(SsrTest, HeaderIsDescribedWhenAsked) {
  dec->describe_messages = 1;
  Header header;
  header.nsat = 1;
  EXPECT_EQ(Feed(OrbitFrame(1057, header, {Orbit{}})), 10);
  EXPECT_EQ(std::string(dec->description),
            "RTCM 1057 (  29): 2024/03/06 12:00:10.00 nsat= 1 iod= 9 udi= 5 sync=0");
}

// --- recording -----------------------------------------------------------------------------

TEST_F(SsrTest, GalileoAndBeidouRecordingIsReadWholeAndStoresNothing) {
  const std::string data = fixtures::ReadRecording("pygpsdata-1240-1264.log");
  ASSERT_EQ(data.size(), 6125u);
  std::vector<std::pair<int, int>> frames;  // type, result
  for (const char byte : data) {
    const bool collecting = dec->frame_bytes > 0;
    const int result = input_rtcm3(dec.get(), static_cast<uint8_t>(byte));
    if (collecting && dec->frame_bytes == 0)
      frames.emplace_back(static_cast<int>(bits_unsigned(dec->frame, 24, 12)), result);
  }
  const std::vector<std::pair<int, int>> expected = {
      {1259, 10}, {1240, 10}, {1258, 10}, {1241, 10}, {1242, 10}, {1260, 10}, {1243, 10},
      {1261, 10}, {1243, 10}, {1261, 0},  {1242, 10}, {1260, 10}, {1264, 0}};
  EXPECT_EQ(frames, expected);
  for (const int type : {1240, 1241, 1258, 1259, 1264})
    EXPECT_EQ(dec->message_counts[type - 1000], 1u);
  for (const int type : {1242, 1243, 1260, 1261}) EXPECT_EQ(dec->message_counts[type - 1000], 2u);
  EXPECT_TRUE(NothingStored());
  EXPECT_NE(dec->time.time, 0);
}

// --- the summary tool ----------------------------------------------------------------------

#ifdef RTCM3_SUMMARY_PATH
TEST(SummaryToolJson, ShowsTheSatellitesAndKindsEachSsrMessageStored) {
  Header gps;
  gps.nsat = 2;
  gps.sync = 1;
  Orbit sat5;
  Orbit sat7;
  sat7.id = 7;
  const std::vector<nlohmann::json> lines = SummaryJson(
      {OrbitFrame(1057, gps, {sat5, sat7}), CodeBiasFrame(1065, SYS_GLONASS, 1, {{3, -75}}),
       OrbitFrame(1240, Header{.sys = SYS_GALILEO, .nsat = 1}, {Orbit{}})});
  ASSERT_EQ(lines.size(), 3u);

  const nlohmann::json& orbit = lines[0].at("ssr");
  EXPECT_EQ(lines[0].at("result"), 0);
  EXPECT_EQ(orbit.at("system"), "GPS");
  EXPECT_EQ(orbit.at("kinds"), nlohmann::json::array({"orbit"}));
  ASSERT_EQ(orbit.at("satellites").size(), 2u);
  const nlohmann::json& first = orbit.at("satellites")[0];
  EXPECT_EQ(first.at("satellite"), 5);
  EXPECT_DOUBLE_EQ(first.at("orbit").at("radial_along_cross_m")[0].get<double>(), -1.2345);
  EXPECT_EQ(first.at("orbit").at("update_interval_s"), 30.0);
  EXPECT_EQ(orbit.at("satellites")[1].at("satellite"), 7);

  const nlohmann::json& bias = lines[1].at("ssr");
  ASSERT_EQ(bias.at("satellites").size(), 1u);
  EXPECT_EQ(bias.at("satellites")[0].at("prn"), 1);
  EXPECT_FLOAT_EQ(bias.at("satellites")[0].at("code_bias").at("code_bias_m").at("2P").get<float>(),
                  -0.75f);

  EXPECT_EQ(lines[2].at("ssr").at("satellites").size(), 0u);  // Galileo: nothing stored
}
#endif

}  // namespace
}  // namespace rtcm
