// Broadcast ephemeris messages: lengths, field scaling, satellite numbering, the unchanged
// test, GLONASS day placement, and the messages of systems without satellite numbers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "nav_test_support.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;
using fixtures::FrameOf;
using fixtures::WrapFrame;

using nav_test::Calendar;

using nav_test::kNowUtc;
constexpr int kNowWeek = 2304;  // 10-bit 256

// Raw field values of a 1019 message, all distinct and mostly nonzero so that a field read
// at the wrong place or with the wrong sign shows up.
struct Gps1019 {
  int id = 5;
  int week = 256;
  int accuracy = 3;
  int l2_codes = 1;
  int idot = -1234;
  int iode = 77;
  int toc = 4500;  // x 16 s
  int af2 = -5;
  int af1 = -300;
  int af0 = -123456;
  int iodc = 589;
  int crs = -2000;
  int delta_n = 12000;
  int64_t m0 = -1500000000;
  int cuc = -900;
  uint32_t e = 50000000;
  int cus = 1100;
  uint32_t sqrt_a = 2702000000u;
  int toe = 4510;  // x 16 s
  int cic = -30;
  int64_t omega0 = 1000000000;
  int cis = 40;
  int64_t i0 = 650000000;
  int crc = 7000;
  int64_t omega = -800000000;
  int omega_dot = -700000;
  int tgd = -9;
  int svh = 0;
  int l2p = 1;
  int fit = 0;

  BitWriter Body() const {
    BitWriter w;
    w.Unsigned(id, 6).Unsigned(week, 10).Unsigned(accuracy, 4).Unsigned(l2_codes, 2);
    w.Signed(idot, 14).Unsigned(iode, 8).Unsigned(toc, 16).Signed(af2, 8).Signed(af1, 16);
    w.Signed(af0, 22).Unsigned(iodc, 10).Signed(crs, 16).Signed(delta_n, 16).Signed(m0, 32);
    w.Signed(cuc, 16).Unsigned(e, 32).Signed(cus, 16).Unsigned(sqrt_a, 32).Unsigned(toe, 16);
    w.Signed(cic, 16).Signed(omega0, 32).Signed(cis, 16).Signed(i0, 32).Signed(crc, 16);
    w.Signed(omega, 32).Signed(omega_dot, 24).Signed(tgd, 8).Unsigned(svh, 6);
    w.Unsigned(l2p, 1).Unsigned(fit, 1);
    return w;
  }
  std::vector<uint8_t> Frame() const { return FrameOf(1019, Body()); }
};

// Raw field values of a 1020 message (sign-magnitude fields may be negative).
struct Glonass1020 {
  int slot = 1;
  int channel = 8;  // frequency channel number + 7
  int tk_hours = 10;
  int tk_minutes = 30;
  int tk_half_minute = 1;
  int bn = 0;
  int tb = 44;  // x 900 s: 11:00 GLONASS time, 08:00 UTC
  int64_t velocity[3] = {1234567, -2345678, 345678};
  int64_t position[3] = {-12345678, 23456789, -3456789};
  int64_t acceleration[3] = {-3, 7, -15};
  int64_t gamma = -5;
  int64_t tau = -12345;

  std::vector<uint8_t> Frame() const {
    BitWriter w;
    w.Unsigned(slot, 6).Unsigned(channel, 5).Unsigned(0, 4);
    w.Unsigned(tk_hours, 5).Unsigned(tk_minutes, 6).Unsigned(tk_half_minute, 1);
    w.Unsigned(bn, 1).Unsigned(0, 1).Unsigned(tb, 7);
    for (int i = 0; i < 3; ++i) {
      w.SignMagnitude(velocity[i], 24).SignMagnitude(position[i], 27);
      w.SignMagnitude(acceleration[i], 5);
    }
    w.Unsigned(0, 1).SignMagnitude(gamma, 11).Unsigned(0, 3).SignMagnitude(tau, 22);
    while (w.bit_count() < 360 - 12) w.Unsigned(0, 1);  // fields after tau_n, not read
    return FrameOf(1020, w);
  }
};

// A message of `bytes` bytes whose fields are placed at frame bit positions.
class PlacedMessage {
 public:
  PlacedMessage(int type, int bytes) : _message(bytes, 0) { Set(24, 12, type); }
  PlacedMessage& Set(int frame_pos, int len, uint32_t value) {
    for (int i = 0; i < len; ++i) {
      const int bit = frame_pos - 24 + i;
      if ((value >> (len - 1 - i)) & 1u)
        _message[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
    }
    return *this;
  }
  std::vector<uint8_t> Frame() const { return WrapFrame(_message); }

 private:
  std::vector<uint8_t> _message;
};

class EphemerisTest : public nav_test::NavDecoderTest {
 protected:
  const Ephemeris& Stored(int sat) const { return dec->navigation.ephemeris[sat - 1]; }
  const GlonassEphemeris& StoredGlonass() const { return dec->navigation.glonass[0]; }
  std::string Description() const { return dec->description; }
};

using nav_test::SameTime;
#ifdef RTCM3_SUMMARY_PATH
using nav_test::SummaryJson;
#endif

// --- 1019: length and fields ---------------------------------------------------------------

TEST_F(EphemerisTest, GpsEphemerisOfExactly64BytesIsStored) {
  const std::vector<uint8_t> frame = Gps1019{}.Frame();
  ASSERT_EQ(frame.size(), 64u + 3u);  // 3-byte header + 61-byte message, then the CRC
  EXPECT_EQ(Feed(frame), 2);
  EXPECT_EQ(Stored(5).satellite, 5);
  EXPECT_EQ(dec->last_eph_sat, 5);
}

TEST_F(EphemerisTest, GpsEphemerisOf63BytesIsRefusedAndChangesNothing) {
  const std::vector<uint8_t> full = Gps1019{}.Frame();
  const std::vector<uint8_t> message(full.begin() + 3, full.begin() + 3 + 60);
  EXPECT_EQ(Feed(WrapFrame(message)), -1);
  EXPECT_EQ(Stored(5).satellite, 0);
  EXPECT_EQ(Stored(5).iode, -1);
  EXPECT_EQ(dec->last_eph_sat, 0);
  EXPECT_EQ(dec->message_counts[19], 0u);
}

TEST_F(EphemerisTest, GpsEphemerisFieldsAreScaledToPhysicalUnits) {
  const Gps1019 raw;
  dec->time = Calendar(2024, 3, 6, 11, 59, 0);
  ASSERT_EQ(Feed(raw.Frame()), 2);
  const Ephemeris& eph = Stored(5);
  // The short pi and the four rounded powers of two are part of the stored values.
  const double pi = 3.1415926535898;
  const double p2_43 = 1.13686837721616e-13;
  EXPECT_EQ(eph.iode, 77);
  EXPECT_EQ(eph.iodc, 589);
  EXPECT_EQ(eph.accuracy, 3);
  EXPECT_EQ(eph.l2_codes, 1);
  EXPECT_EQ(eph.svh, 0);
  EXPECT_EQ(eph.l2p_flag, 1);
  EXPECT_EQ(eph.inclination_rate, raw.idot * p2_43 * pi);
  EXPECT_EQ(eph.mean_motion_delta, raw.delta_n * p2_43 * pi);
  EXPECT_EQ(eph.ascending_node_rate, raw.omega_dot * p2_43 * pi);
  EXPECT_EQ(eph.af2, raw.af2 * 2.775557561562891e-17);
  EXPECT_EQ(eph.af1, raw.af1 * p2_43);
  EXPECT_EQ(eph.eccentricity, raw.e * 1.164153218269348e-10);
  EXPECT_DOUBLE_EQ(eph.af0, raw.af0 * 0x1p-31);
  EXPECT_DOUBLE_EQ(eph.crs, raw.crs / 32.0);
  EXPECT_DOUBLE_EQ(eph.crc, raw.crc / 32.0);
  EXPECT_DOUBLE_EQ(eph.cuc, raw.cuc * 0x1p-29);
  EXPECT_DOUBLE_EQ(eph.cus, raw.cus * 0x1p-29);
  EXPECT_DOUBLE_EQ(eph.cic, raw.cic * 0x1p-29);
  EXPECT_DOUBLE_EQ(eph.cis, raw.cis * 0x1p-29);
  EXPECT_DOUBLE_EQ(eph.mean_anomaly, raw.m0 * 0x1p-31 * pi);
  EXPECT_DOUBLE_EQ(eph.ascending_node, raw.omega0 * 0x1p-31 * pi);
  EXPECT_DOUBLE_EQ(eph.inclination, raw.i0 * 0x1p-31 * pi);
  EXPECT_DOUBLE_EQ(eph.perigee, raw.omega * 0x1p-31 * pi);
  EXPECT_DOUBLE_EQ(eph.tgd, raw.tgd * 0x1p-31);
  const double sqrt_a = raw.sqrt_a * 0x1p-19;
  EXPECT_DOUBLE_EQ(eph.semi_major_axis, sqrt_a * sqrt_a);
  EXPECT_NEAR(eph.semi_major_axis, 26.56e6, 0.01e6);
  EXPECT_EQ(eph.toe_seconds, 4510 * 16.0);
  EXPECT_TRUE(SameTime(eph.reception_time, dec->time));
}

TEST_F(EphemerisTest, GpsWeekIsResolvedNearTheCurrentWeekForToeAndToc) {
  ASSERT_EQ(Feed(Gps1019{}.Frame()), 2);
  const Ephemeris& eph = Stored(5);
  EXPECT_EQ(eph.week, kNowWeek);
  EXPECT_TRUE(SameTime(eph.toe, time_from_gps_week(kNowWeek, 4510 * 16.0)));
  EXPECT_TRUE(SameTime(eph.toc, time_from_gps_week(kNowWeek, 4500 * 16.0)));

  Gps1019 older;
  older.id = 6;
  older.week = 255;
  ASSERT_EQ(Feed(older.Frame()), 2);
  EXPECT_EQ(Stored(6).week, kNowWeek - 1);
}

TEST_F(EphemerisTest, FitIntervalBitZeroMeansFourHoursAndOneMeansNone) {
  Gps1019 four_hours;
  Gps1019 none;
  none.id = 6;
  none.fit = 1;
  ASSERT_EQ(Feed(four_hours.Frame()), 2);
  ASSERT_EQ(Feed(none.Frame()), 2);
  EXPECT_EQ(Stored(5).fit_interval, 4.0);
  EXPECT_EQ(Stored(6).fit_interval, 0.0);
}

// --- 1019: satellite numbering -------------------------------------------------------------

TEST_F(EphemerisTest, SbasIdsFrom40AreMappedToPrn120AndUp) {
  Gps1019 first;
  first.id = 40;  // PRN 120
  Gps1019 last;
  last.id = 62;  // PRN 142
  ASSERT_EQ(Feed(first.Frame()), 2);
  EXPECT_EQ(Stored(33).satellite, 33);
  EXPECT_EQ(dec->last_eph_sat, 33);
  ASSERT_EQ(Feed(last.Frame()), 2);
  EXPECT_EQ(Stored(55).satellite, 55);
  EXPECT_EQ(dec->last_eph_sat, 55);
}

TEST_F(EphemerisTest, IdsWithoutSatelliteNumberAreRefused) {
  for (const int id : {0, 33, 39, 63}) {
    Gps1019 raw;
    raw.id = id;
    EXPECT_EQ(Feed(raw.Frame()), -1) << "id " << id;
  }
  for (int sat = 1; sat <= MAX_SAT; ++sat) EXPECT_EQ(Stored(sat).iode, -1);
  EXPECT_EQ(dec->last_eph_sat, 0);
}

// --- 1019: unchanged test ------------------------------------------------------------------

TEST_F(EphemerisTest, SameIodeTwiceIsStoredOnceThenReportedUnchanged) {
  EXPECT_EQ(Feed(Gps1019{}.Frame()), 2);
  Gps1019 same_iode;
  same_iode.toe = 4600;  // only IODE is compared
  EXPECT_EQ(Feed(same_iode.Frame()), 0);
  EXPECT_EQ(Stored(5).toe_seconds, 4510 * 16.0);
  EXPECT_EQ(dec->message_counts[19], 2u);  // an unchanged ephemeris still counts as received
}

TEST_F(EphemerisTest, NewIodeWithTheSameToeIsStored) {
  ASSERT_EQ(Feed(Gps1019{}.Frame()), 2);
  Gps1019 next;
  next.iode = 78;
  EXPECT_EQ(Feed(next.Frame()), 2);
  EXPECT_EQ(Stored(5).iode, 78);
}

TEST_F(EphemerisTest, EphallOptionStoresEvenAnUnchangedEphemeris) {
  std::strcpy(dec->options, "-EPHALL");
  EXPECT_EQ(Feed(Gps1019{}.Frame()), 2);
  EXPECT_EQ(Feed(Gps1019{}.Frame()), 2);
}

// --- 1019: description ---------------------------------------------------------------------

TEST_F(EphemerisTest, DescriptionShowsTheSbasPrnAndTheWeekAsRead) {
  dec->describe_messages = 1;
  Gps1019 raw;
  raw.id = 40;
  raw.svh = 0x2A;
  ASSERT_EQ(Feed(raw.Frame()), 2);
  EXPECT_EQ(Description(),
            "RTCM 1019 (  64): prn=120 iode= 77 iodc=589 week=256 toe= 72160 toc= 72000 svh=2A");
}

TEST_F(EphemerisTest, RefusedSatelliteIsStillDescribedButNothingIsWithoutTheFlag) {
  Gps1019 raw;
  raw.id = 63;
  dec->describe_messages = 1;
  ASSERT_EQ(Feed(raw.Frame()), -1);
  EXPECT_EQ(Description(),
            "RTCM 1019 (  64): prn=143 iode= 77 iodc=589 week=256 toe= 72160 toc= 72000 svh=00");
  dec->describe_messages = 0;
  dec->description[0] = '\0';
  ASSERT_EQ(Feed(Gps1019{}.Frame()), 2);
  EXPECT_EQ(Description(), "");
}

// --- 1020 ----------------------------------------------------------------------------------

TEST_F(EphemerisTest, GlonassEphemerisIsStoredWithSignMagnitudeFieldsInMetres) {
  const Glonass1020 raw;
  const std::vector<uint8_t> frame = raw.Frame();
  ASSERT_EQ(frame.size(), 48u + 3u);
  ASSERT_EQ(Feed(frame), 2);
  const GlonassEphemeris& geph = StoredGlonass();
  EXPECT_EQ(geph.satellite, 34);
  EXPECT_EQ(dec->last_eph_sat, 34);
  EXPECT_EQ(geph.frq, 1);
  EXPECT_EQ(geph.iode, 44);
  EXPECT_EQ(geph.svh, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(geph.velocity[i], raw.velocity[i] * 0x1p-20 * 1000.0) << i;
    EXPECT_DOUBLE_EQ(geph.position[i], raw.position[i] * 0x1p-11 * 1000.0) << i;
    EXPECT_DOUBLE_EQ(geph.acceleration[i], raw.acceleration[i] * 0x1p-30 * 1000.0) << i;
  }
  EXPECT_EQ(geph.gamma_n, -5 * 9.09494701772928e-13);
  EXPECT_DOUBLE_EQ(geph.tau_n, -12345 * 0x1p-30);
}

TEST_F(EphemerisTest, GlonassTimesAreUtcOfTheReferenceDayTurnedIntoGpsTime) {
  ASSERT_EQ(dec->time.time, 0);
  ASSERT_EQ(Feed(Glonass1020{}.Frame()), 2);
  // An unset decoder time is taken from the clock: 12:00:18 GPS.
  EXPECT_TRUE(SameTime(dec->time, utc_to_gps_time(kNowUtc)));
  const GlonassEphemeris& geph = StoredGlonass();
  // t_k 10:30:30 and t_b 11:00 GLONASS time are 07:30:30 and 08:00 UTC.
  EXPECT_TRUE(SameTime(geph.tof, utc_to_gps_time(Calendar(2024, 3, 6, 7, 30, 30))));
  EXPECT_TRUE(SameTime(geph.toe, utc_to_gps_time(Calendar(2024, 3, 6, 8, 0, 0))));
}

TEST_F(EphemerisTest, GlonassFrameTimeMoreThanHalfADayAheadIsPlacedOnThePreviousDay) {
  dec->time = utc_to_gps_time(Calendar(2024, 3, 6, 1, 0, 0));
  Glonass1020 raw;
  raw.tk_hours = 20;  // 17:00 UTC, 16 hours ahead of 01:00
  raw.tk_minutes = 0;
  raw.tk_half_minute = 0;
  raw.tb = 80;  // 20:00 GLONASS time, 17:00 UTC
  ASSERT_EQ(Feed(raw.Frame()), 2);
  EXPECT_TRUE(SameTime(StoredGlonass().tof, utc_to_gps_time(Calendar(2024, 3, 5, 17, 0, 0))));
  EXPECT_TRUE(SameTime(StoredGlonass().toe, utc_to_gps_time(Calendar(2024, 3, 5, 17, 0, 0))));
}

TEST_F(EphemerisTest, GlonassFrameTimeMoreThanHalfADayBehindIsPlacedOnTheNextDay) {
  dec->time = utc_to_gps_time(Calendar(2024, 3, 6, 23, 0, 0));
  Glonass1020 raw;
  raw.tk_hours = 12;  // 09:00 UTC, 14 hours behind 23:00
  raw.tk_minutes = 0;
  raw.tk_half_minute = 0;
  raw.tb = 48;  // 12:00 GLONASS time
  ASSERT_EQ(Feed(raw.Frame()), 2);
  EXPECT_TRUE(SameTime(StoredGlonass().tof, utc_to_gps_time(Calendar(2024, 3, 7, 9, 0, 0))));
  EXPECT_TRUE(SameTime(StoredGlonass().toe, utc_to_gps_time(Calendar(2024, 3, 7, 9, 0, 0))));
}

TEST_F(EphemerisTest, GlonassWithTheSameToeAndHealthIsUnchangedButAHealthChangeIsStored) {
  ASSERT_EQ(Feed(Glonass1020{}.Frame()), 2);
  Glonass1020 later_frame;
  later_frame.tk_minutes = 45;  // frame time is not compared
  EXPECT_EQ(Feed(later_frame.Frame()), 0);
  Glonass1020 unhealthy;
  unhealthy.bn = 1;
  EXPECT_EQ(Feed(unhealthy.Frame()), 2);
  EXPECT_EQ(StoredGlonass().svh, 1);
  Glonass1020 next_tb;
  next_tb.bn = 1;
  next_tb.tb = 45;
  EXPECT_EQ(Feed(next_tb.Frame()), 2);
  EXPECT_EQ(StoredGlonass().iode, 45);
}

TEST_F(EphemerisTest, GlonassSlotOtherThanOneIsRefusedAndNotDescribed) {
  dec->describe_messages = 1;
  Glonass1020 raw;
  raw.slot = 2;
  EXPECT_EQ(Feed(raw.Frame()), -1);
  EXPECT_EQ(StoredGlonass().satellite, 0);
  EXPECT_EQ(Description(), "RTCM 1020 (  48):");
}

TEST_F(EphemerisTest, GlonassShorterThan48BytesIsRefused) {
  const std::vector<uint8_t> full = Glonass1020{}.Frame();
  const std::vector<uint8_t> message(full.begin() + 3, full.begin() + 3 + 44);
  EXPECT_EQ(Feed(WrapFrame(message)), -1);
  EXPECT_EQ(StoredGlonass().iode, -1);
  EXPECT_EQ(dec->time.time, 0);
}

TEST_F(EphemerisTest, GlonassDescriptionShowsFrameTimeChannelHealthAndTb) {
  dec->describe_messages = 1;
  ASSERT_EQ(Feed(Glonass1020{}.Frame()), 2);
  EXPECT_EQ(Description(), "RTCM 1020 (  48): prn= 1 tk=10:30:30 frq= 1 bn=0 tb=44");
}

// --- BeiDou, QZSS, Galileo -----------------------------------------------------------------

TEST_F(EphemerisTest, BeidouQzssAndGalileoEphemeridesOfFullLengthAreNeverStored) {
  const struct {
    int type;
    int bytes;  // message bytes giving exactly the minimum frame length
  } cases[] = {{1042, 64}, {63, 64}, {1044, 61}, {1045, 62}, {1046, 63}};
  for (const auto& c : cases) {
    PlacedMessage message(c.type, c.bytes);
    message.Set(36, 4, 3);  // a satellite ID that would be valid for GPS
    EXPECT_EQ(Feed(message.Frame()), -1) << c.type;
  }
  for (int sat = 1; sat <= MAX_SAT; ++sat) EXPECT_EQ(Stored(sat).iode, -1);
  EXPECT_EQ(dec->last_eph_sat, 0);
}

TEST_F(EphemerisTest, BeidouQzssAndGalileoEphemeridesAreDescribedOnlyWhenLongEnough) {
  dec->describe_messages = 1;
  PlacedMessage beidou(63, 64);  // message 63 is read as 1042
  beidou.Set(36, 6, 11).Set(42, 13, 950).Set(73, 5, 17).Set(152, 5, 21);
  beidou.Set(78, 17, 45000).Set(323, 17, 45010).Set(534, 1, 1);
  EXPECT_EQ(Feed(beidou.Frame()), -1);
  EXPECT_EQ(Description(),
            "RTCM   63 (  67): prn=11 iode= 17 iodc= 21 week=950 toe=360080 toc=360000 svh=01");

  PlacedMessage qzss(1044, 61);
  qzss.Set(36, 4, 3).Set(40, 16, 4500).Set(102, 8, 200).Set(270, 16, 4510);
  qzss.Set(470, 10, 256).Set(484, 6, 0x3F).Set(498, 10, 712);
  EXPECT_EQ(Feed(qzss.Frame()), -1);
  EXPECT_EQ(Description(),
            "RTCM 1044 (  64): prn=195 iode=200 iodc=712 week=256 toe= 72160 toc= 72000 svh=3F");

  PlacedMessage fnav(1045, 62);
  fnav.Set(36, 6, 12).Set(42, 12, 1280).Set(54, 10, 100).Set(86, 14, 1000);
  fnav.Set(318, 14, 1010).Set(510, 2, 2).Set(512, 1, 1);
  EXPECT_EQ(Feed(fnav.Frame()), -1);
  EXPECT_EQ(Description(),
            "RTCM 1045 (  65): prn=12 iode=100 week=1280 toe= 60600 toc= 60000 hs=2 dvs=1");

  PlacedMessage inav(1046, 63);
  inav.Set(36, 6, 13).Set(42, 12, 1280).Set(54, 10, 101).Set(86, 14, 1000).Set(318, 14, 1010);
  inav.Set(520, 2, 1).Set(522, 1, 0).Set(523, 2, 3).Set(525, 1, 1);
  EXPECT_EQ(Feed(inav.Frame()), -1);
  EXPECT_EQ(Description(),
            "RTCM 1046 (  66): prn=13 iode=101 week=1280 toe= 60600 toc= 60000 hs=1 3 dvs=0 1");

  PlacedMessage short_inav(1046, 62);
  short_inav.Set(36, 6, 13);
  EXPECT_EQ(Feed(short_inav.Frame()), -1);
  EXPECT_EQ(Description(), "RTCM 1046 (  65):");
}

// --- the summary tool ----------------------------------------------------------------------

#ifdef RTCM3_SUMMARY_PATH
TEST(SummaryToolJson, ShowsStoredEphemeridesInPhysicalUnits) {
  Gps1019 repeated;
  const std::vector<nlohmann::json> lines =
      SummaryJson({repeated.Frame(), repeated.Frame(), Glonass1020{}.Frame()});
  ASSERT_EQ(lines.size(), 3u);
  const nlohmann::json& gps = lines[0].at("ephemeris");
  EXPECT_EQ(gps.at("satellite"), 5);
  EXPECT_EQ(gps.at("iode"), 77);
  EXPECT_NEAR(gps.at("semi_major_axis_m").get<double>(), 26.56e6, 0.01e6);
  EXPECT_EQ(gps.at("toe_s"), 72160.0);
  EXPECT_EQ(gps.at("fit_interval_h"), 4.0);
  EXPECT_EQ(lines[1].at("result"), 0);  // unchanged: nothing to show
  EXPECT_FALSE(lines[1].contains("ephemeris"));
  const nlohmann::json& glonass = lines[2].at("glonass_ephemeris");
  EXPECT_EQ(glonass.at("satellite"), 34);
  EXPECT_DOUBLE_EQ(glonass.at("position_m")[0].get<double>(), -12345678 * 0x1p-11 * 1000.0);
  EXPECT_EQ(glonass.at("frequency_channel"), 1);
}
#endif

}  // namespace
}  // namespace rtcm
