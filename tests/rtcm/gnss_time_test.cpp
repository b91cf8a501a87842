// Time conversions, truncated-time resolution against a pinned "now", numbering and codes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"

namespace rtcm {
namespace {

constexpr int64_t kGpsOrigin = 315964800;  // 1980-01-06 00:00:00
constexpr int64_t kWeek2300 = 1707004800;  // start of GPS week 2300 (2024-02-04)

GnssTime Calendar(double y, double mo, double d, double h = 0, double mi = 0, double s = 0) {
  const double fields[6] = {y, mo, d, h, mi, s};
  return time_from_calendar(fields);
}

// A decoder whose clock reads the given UTC time.
std::unique_ptr<RtcmDecoder> DecoderAt(GnssTime utc_now) {
  auto dec = std::make_unique<RtcmDecoder>();
  init_rtcm(dec.get());
  dec->utc_clock = [utc_now] { return utc_now; };
  return dec;
}

// UTC time of the start of a GPS week plus seconds (GPS-UTC is 18 s after 2017).
GnssTime UtcOfGps(int week, double sec) {
  return gps_to_utc_time(time_from_gps_week(week, sec));
}

TEST(CalendarTime, GpsOriginIsItsKnownUnixSecond) {
  const GnssTime t = Calendar(1980, 1, 6);
  EXPECT_EQ(t.time, kGpsOrigin);
  EXPECT_EQ(t.sec, 0.0);
}

TEST(CalendarTime, OutOfRangeYearsAndMonthsGiveTheZeroTime) {
  EXPECT_EQ(Calendar(2100, 1, 1).time, 0);
  EXPECT_EQ(Calendar(1969, 12, 31).time, 0);
  EXPECT_EQ(Calendar(2024, 13, 1).time, 0);
  EXPECT_EQ(Calendar(2024, 0, 1).time, 0);
  EXPECT_EQ(Calendar(2099, 12, 31).time, 4102358400);
}

TEST(CalendarTime, LeapDayAndFractionRoundTrip) {
  const GnssTime t = Calendar(2024, 2, 29, 12, 34, 56.5);
  EXPECT_EQ(t.time, 1709210096);
  EXPECT_DOUBLE_EQ(t.sec, 0.5);
  double fields[6];
  calendar_from_time(t, fields);
  EXPECT_EQ(fields[0], 2024);
  EXPECT_EQ(fields[1], 2);
  EXPECT_EQ(fields[2], 29);
  EXPECT_EQ(fields[3], 12);
  EXPECT_EQ(fields[4], 34);
  EXPECT_DOUBLE_EQ(fields[5], 56.5);
}

TEST(CalendarTime, EveryDayOfAFourYearCycleRoundTrips) {
  for (int64_t day = 0; day < 4 * 1461; ++day) {
    GnssTime t{kGpsOrigin + day * 86400 + 3723, 0.0};
    double fields[6];
    calendar_from_time(t, fields);
    ASSERT_EQ(time_from_calendar(fields).time, t.time) << "day " << day;
  }
}

TEST(GpsWeek, WeekZeroIsTheOriginAndHugeSecondsCountAsZero) {
  EXPECT_EQ(time_from_gps_week(0, 0).time, kGpsOrigin);
  EXPECT_EQ(time_from_gps_week(0, 2e9).time, kGpsOrigin);
  EXPECT_EQ(time_from_gps_week(0, -2e9).time, kGpsOrigin);
  const GnssTime t = time_from_gps_week(2300, 1.25);
  EXPECT_EQ(t.time, kWeek2300 + 1);
  EXPECT_DOUBLE_EQ(t.sec, 0.25);
}

TEST(GpsWeek, SecondsOfWeekKeepTheFraction) {
  int week = 0;
  const double tow = gps_week_from_time(GnssTime{kWeek2300 + 604799, 0.5}, &week);
  EXPECT_EQ(week, 2300);
  EXPECT_DOUBLE_EQ(tow, 604799.5);
  EXPECT_DOUBLE_EQ(gps_week_from_time(GnssTime{kWeek2300, 0.0}, nullptr), 0.0);
}

TEST(BeiDouWeek, OriginIs2006AndScaleIsFourteenSecondsBehindGps) {
  EXPECT_EQ(time_from_bds_week(0, 0).time, 1136073600);
  int week = -1;
  EXPECT_DOUBLE_EQ(bds_week_from_time(time_from_bds_week(10, 3.5), &week), 3.5);
  EXPECT_EQ(week, 10);
  const GnssTime gps{kWeek2300, 0.0};
  EXPECT_EQ(gps_to_bds_time(gps).time, kWeek2300 - 14);
  EXPECT_EQ(bds_to_gps_time(gps_to_bds_time(gps)).time, kWeek2300);
}

TEST(TimeArithmetic, ShiftCarriesTheFractionBothWays) {
  GnssTime t = time_shift(GnssTime{100, 0.75}, 0.5);
  EXPECT_EQ(t.time, 101);
  EXPECT_DOUBLE_EQ(t.sec, 0.25);
  t = time_shift(GnssTime{100, 0.25}, -0.5);
  EXPECT_EQ(t.time, 99);
  EXPECT_DOUBLE_EQ(t.sec, 0.75);
  EXPECT_DOUBLE_EQ(time_diff(GnssTime{101, 0.25}, GnssTime{100, 0.75}), 0.5);
}

TEST(LeapSeconds, UtcToGpsFollowsTheTableAtItsEdges) {
  EXPECT_EQ(utc_to_gps_time(Calendar(2016, 12, 31, 23, 59, 59)).time,
            Calendar(2016, 12, 31, 23, 59, 59).time + 17);
  EXPECT_EQ(utc_to_gps_time(Calendar(2017, 1, 1)).time, Calendar(2017, 1, 1).time + 18);
  EXPECT_EQ(utc_to_gps_time(Calendar(1981, 6, 30, 23, 59, 59)).time,
            Calendar(1981, 6, 30, 23, 59, 59).time);
  EXPECT_EQ(utc_to_gps_time(Calendar(1981, 7, 1)).time, Calendar(1981, 7, 1).time + 1);
}

TEST(LeapSeconds, GpsToUtcUndoesUtcToGps) {
  for (const GnssTime utc :
       {Calendar(2017, 1, 1), Calendar(2016, 12, 31, 23, 59, 59), Calendar(2026, 12, 8, 12),
        Calendar(1990, 5, 5), Calendar(1975, 1, 1)}) {
    EXPECT_EQ(gps_to_utc_time(utc_to_gps_time(utc)).time, utc.time);
  }
  EXPECT_EQ(gps_to_utc_time(GnssTime{Calendar(2017, 1, 1).time + 18, 0}).time,
            Calendar(2017, 1, 1).time);
}

TEST(CurrentTime, ReadsThePinnedUtcClockAndAddsLeapSeconds) {
  const GnssTime utc = Calendar(2026, 12, 8, 12, 0, 0.25);
  const UtcClock clock = [utc] { return utc; };
  const GnssTime gps = current_gps_time(clock);
  EXPECT_EQ(gps.time, utc.time + 18);
  EXPECT_DOUBLE_EQ(gps.sec, 0.25);
  auto dec = DecoderAt(utc);
  EXPECT_EQ(current_gps_time(dec.get()).time, utc.time + 18);
}

TEST(CurrentTime, SystemClockIsUsedWhenNoneIsPinned) {
  const GnssTime now = current_gps_time(UtcClock{});
  EXPECT_GT(now.time, Calendar(2020, 1, 1).time);
  EXPECT_GE(now.sec, 0.0);
  EXPECT_LT(now.sec, 1.0);
}

TEST(TimeText, RoundsUpAFractionCloseToTheNextSecond) {
  GnssTime t = Calendar(2024, 12, 31, 23, 59, 59);
  t.sec = 0.996;
  EXPECT_STREQ(time_text(t, 2), "2025/01/01 00:00:00.00");
  t.sec = 0.5;
  EXPECT_STREQ(time_text(t, 0), "2024/12/31 23:59:60");
  EXPECT_STREQ(time_text(t, 3), "2024/12/31 23:59:59.500");
  EXPECT_EQ(std::string(time_text(t, 40)).size(), std::string("2024/12/31 23:59:59.").size() + 12);
}

TEST(ResolveWeek, TenBitWeekBecomesTheFullWeekNearestToNow) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  EXPECT_EQ(resolve_gps_week(dec.get(), 0), 2048);
  EXPECT_EQ(resolve_gps_week(dec.get(), 2300 % 1024), 2300);
  EXPECT_EQ(resolve_gps_week(dec.get(), 1023), 2047);  // 253 weeks back is nearer than 771 ahead
}

TEST(ResolveWeek, ANowBeforeWeek1560CountsAsWeek1560) {
  auto dec = DecoderAt(Calendar(1990, 1, 1));
  EXPECT_EQ(resolve_gps_week(dec.get(), 0), 2048);
  EXPECT_EQ(resolve_gps_week(dec.get(), 1000), 2024);
  EXPECT_EQ(resolve_gps_week(dec.get(), 600), 1624);
}

TEST(ResolveTimeOfWeek, UnknownDecoderTimeStartsFromNow) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  resolve_time_of_week(dec.get(), 1234.5);
  EXPECT_EQ(dec->time.time, kWeek2300 + 1234);
  EXPECT_DOUBLE_EQ(dec->time.sec, 0.5);
}

TEST(ResolveTimeOfWeek, EarlyTowLateInTheWeekMovesToTheNextWeek) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  dec->time = time_from_gps_week(2300, 604000);
  resolve_time_of_week(dec.get(), 100);
  EXPECT_EQ(dec->time.time, time_from_gps_week(2301, 100).time);
}

TEST(ResolveTimeOfWeek, LateTowEarlyInTheWeekMovesToThePreviousWeek) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  dec->time = time_from_gps_week(2300, 100);
  resolve_time_of_week(dec.get(), 604000);
  EXPECT_EQ(dec->time.time, time_from_gps_week(2299, 604000).time);
  resolve_time_of_week(dec.get(), 302400 + 604000 - 302400);  // same tow again: same week
  EXPECT_EQ(dec->time.time, time_from_gps_week(2299, 604000).time);
}

TEST(ResolveGlonassTimeOfDay, TimeOfDayIsUtcPlusThreeHours) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  dec->time = utc_to_gps_time(Calendar(2024, 3, 10, 22, 0, 0));  // 01:00 GLONASS, Mar 11
  resolve_glonass_time_of_day(dec.get(), 3605);
  EXPECT_EQ(dec->time.time, utc_to_gps_time(Calendar(2024, 3, 10, 22, 0, 5)).time);
}

TEST(ResolveGlonassTimeOfDay, TimeOfDayHalfADayAwayLandsOnTheNeighbouringDay) {
  auto dec = DecoderAt(UtcOfGps(2300, 1000));
  dec->time = utc_to_gps_time(Calendar(2024, 3, 10, 22, 0, 0));
  resolve_glonass_time_of_day(dec.get(), 86000);  // 23:53:20 of the previous GLONASS day
  EXPECT_EQ(dec->time.time, utc_to_gps_time(Calendar(2024, 3, 10, 20, 53, 20)).time);
  dec->time = utc_to_gps_time(Calendar(2024, 3, 10, 20, 0, 0));  // 23:00 GLONASS
  resolve_glonass_time_of_day(dec.get(), 60);                    // 00:01 of the next day
  EXPECT_EQ(dec->time.time, utc_to_gps_time(Calendar(2024, 3, 10, 21, 1, 0)).time);
}

TEST(ResolveGlonassTimeOfDay, UnknownDecoderTimeStartsFromNow) {
  auto dec = DecoderAt(Calendar(2024, 3, 10, 22, 0, 0));
  resolve_glonass_time_of_day(dec.get(), 3600);
  EXPECT_EQ(dec->time.time, utc_to_gps_time(Calendar(2024, 3, 10, 22, 0, 0)).time);
}

TEST(SatelliteNumbers, OnlyGpsSbasAndGlonassSlotOneAreNumbered) {
  EXPECT_EQ(sat_number(SYS_GPS, 1), 1);
  EXPECT_EQ(sat_number(SYS_GPS, 32), 32);
  EXPECT_EQ(sat_number(SYS_GPS, 33), 0);
  EXPECT_EQ(sat_number(SYS_GPS, 0), 0);
  EXPECT_EQ(sat_number(SYS_GPS, -3), 0);
  EXPECT_EQ(sat_number(SYS_SBAS, 120), 33);
  EXPECT_EQ(sat_number(SYS_SBAS, 121), 34);
  EXPECT_EQ(sat_number(SYS_SBAS, 142), 55);
  EXPECT_EQ(sat_number(SYS_SBAS, 143), 0);
  EXPECT_EQ(sat_number(SYS_SBAS, 119), 0);
  EXPECT_EQ(sat_number(SYS_GLONASS, 1), 34);
  EXPECT_EQ(sat_number(SYS_GLONASS, 2), 0);
  EXPECT_EQ(sat_number(SYS_GALILEO, 5), 0);
  EXPECT_EQ(sat_number(SYS_QZSS, 193), 0);
  EXPECT_EQ(sat_number(SYS_BEIDOU, 5), 0);
}

TEST(ObservationCodes, TextGivesNumberAndFrequency) {
  int freq = -1;
  EXPECT_EQ(code_from_text("1C", &freq), 1);
  EXPECT_EQ(freq, 1);
  EXPECT_EQ(code_from_text("7Q", &freq), 28);
  EXPECT_EQ(freq, 5);
  EXPECT_EQ(code_from_text("1Q", &freq), 48);
  EXPECT_EQ(freq, 1);
  EXPECT_EQ(code_from_text("6L", &freq), 36);
  EXPECT_EQ(freq, 4);
  EXPECT_EQ(code_from_text("8I", &freq), 0);
  EXPECT_EQ(freq, 0);
  EXPECT_EQ(code_from_text(nullptr, &freq), 0);
  EXPECT_EQ(code_from_text("1C", nullptr), 1);
  EXPECT_STREQ(code_text(28), "7Q");
  EXPECT_STREQ(code_text(0), "");
  EXPECT_STREQ(code_text(49), "");
}

TEST(ObservationCodes, EveryNumberRoundTripsThroughItsText) {
  for (int code = 1; code <= MAX_CODE; ++code) {
    EXPECT_EQ(code_from_text(code_text(code), nullptr), code);
  }
}

TEST(CodePriority, EarlierLetterInTheSystemRowRanksHigher) {
  EXPECT_EQ(code_priority(SYS_GPS, code_from_text("1C", nullptr), ""), 14);
  EXPECT_EQ(code_priority(SYS_GPS, code_from_text("1P", nullptr), ""), 13);
  EXPECT_EQ(code_priority(SYS_GPS, code_from_text("1L", nullptr), ""), 7);
  EXPECT_EQ(code_priority(SYS_GPS, code_from_text("1X", nullptr), ""), 0);
  EXPECT_EQ(code_priority(SYS_GPS, code_from_text("2W", nullptr), nullptr), 12);
  EXPECT_EQ(code_priority(SYS_GALILEO, code_from_text("6C", nullptr), ""), 12);
  EXPECT_EQ(code_priority(SYS_BEIDOU, code_from_text("2I", nullptr), ""), 14);
  EXPECT_EQ(code_priority(SYS_SBAS, code_from_text("2C", nullptr), ""), 0);
  EXPECT_EQ(code_priority(3, 1, ""), 0);
  EXPECT_EQ(code_priority(SYS_GPS, 0, ""), 0);
  EXPECT_EQ(code_priority(SYS_GPS, 49, ""), 0);
}

TEST(CodePriority, SystemOptionForTheSameFrequencyDecides) {
  const uint8_t l1c = code_from_text("1C", nullptr);
  const uint8_t l1l = code_from_text("1L", nullptr);
  const uint8_t l2w = code_from_text("2W", nullptr);
  EXPECT_EQ(code_priority(SYS_GPS, l1l, "-GL1L"), 15);
  EXPECT_EQ(code_priority(SYS_GPS, l1c, "-GL1L"), 0);
  EXPECT_EQ(code_priority(SYS_GPS, l2w, "-GL1L"), 12);        // other frequency: the row decides
  EXPECT_EQ(code_priority(SYS_GPS, l2w, "-GL1L -GL2W"), 15);  // first option of its frequency
  EXPECT_EQ(code_priority(SYS_GLONASS, l1c, "-GL1P"), 13);    // another system's option
  EXPECT_EQ(code_priority(SYS_GLONASS, l1c, "-RL1C"), 15);
}

TEST(Wavelengths, FollowTheFrequencyNumberAlone) {
  EXPECT_DOUBLE_EQ(wavelength_of_frequency(1), 299792458.0 / 1575.42e6);
  EXPECT_DOUBLE_EQ(wavelength_of_frequency(2), 299792458.0 / 1227.60e6);
  EXPECT_DOUBLE_EQ(wavelength_of_frequency(6), 299792458.0 / 1191.795e6);
  EXPECT_EQ(wavelength_of_frequency(0), 0.0);
  EXPECT_EQ(wavelength_of_frequency(7), 0.0);
}

TEST(ObservationSet, AddsClearedRecordsAndFindsExistingOnes) {
  auto dec = DecoderAt(Calendar(2024, 1, 1));
  const GnssTime t{kWeek2300, 0.0};
  ASSERT_EQ(find_or_add_obs(&dec->obs, t, 5), 0);
  dec->obs.records[0].phase[1] = 42.0;
  ASSERT_EQ(find_or_add_obs(&dec->obs, t, 12), 1);
  EXPECT_EQ(find_or_add_obs(&dec->obs, t, 5), 0);
  EXPECT_EQ(dec->obs.count, 2);
  EXPECT_EQ(dec->obs.records[1].sat, 12);
  EXPECT_EQ(dec->obs.records[1].time.time, kWeek2300);
  EXPECT_EQ(dec->obs.records[0].phase[1], 42.0);
}

TEST(ObservationSet, AFullSetRefusesANewSatelliteAndStaysUnchanged) {
  auto dec = DecoderAt(Calendar(2024, 1, 1));
  for (int i = 0; i < MAX_OBS; ++i) dec->obs.records[i].sat = static_cast<uint8_t>(i % 55 + 1);
  dec->obs.count = MAX_OBS;
  dec->obs.records[63].sat = 60;
  EXPECT_EQ(find_or_add_obs(&dec->obs, GnssTime{}, 61), -1);
  EXPECT_EQ(dec->obs.count, MAX_OBS);
  EXPECT_EQ(find_or_add_obs(&dec->obs, GnssTime{}, 60), 63);
}

TEST(EpochStartRule, KeepsTheSetWhileTheTimeIsTheSameAndTheEpochOpen) {
  auto dec = DecoderAt(Calendar(2024, 1, 1));
  dec->time = GnssTime{kWeek2300, 0.5};
  find_or_add_obs(&dec->obs, dec->time, 3);
  apply_epoch_start_rule(dec.get());
  EXPECT_EQ(dec->obs.count, 1);
}

TEST(EpochStartRule, ANewTimeOrACompleteEpochStartsAfresh) {
  auto dec = DecoderAt(Calendar(2024, 1, 1));
  dec->time = GnssTime{kWeek2300, 0.5};
  find_or_add_obs(&dec->obs, dec->time, 3);
  dec->time = time_shift(dec->time, 1e-6);
  apply_epoch_start_rule(dec.get());
  EXPECT_EQ(dec->obs.count, 0);

  find_or_add_obs(&dec->obs, dec->time, 3);
  dec->epoch_complete = 1;
  apply_epoch_start_rule(dec.get());
  EXPECT_EQ(dec->obs.count, 0);
  EXPECT_EQ(dec->epoch_complete, 0);
}

}  // namespace
}  // namespace rtcm
