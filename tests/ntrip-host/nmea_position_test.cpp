#include "positions/nmea_file_source.h"
#include "positions/nmea_position.h"
#include "common/option_text.h"

#include "nmea_text.h"
#include "temp_file.h"

#include <gtest/gtest.h>

namespace ntrip_host {
namespace {

NmeaParse Line(const std::string& body) {
  return ParseNmeaLine(Nmea(body));
}

std::string Gga(const char* time, int quality, const char* lat = "4500.000") {
  return "GPGGA," + std::string(time) + "," + lat + ",N,00700.000,E," + std::to_string(quality) +
         ",12,0.8,250.0,M,47.0,M,,";
}
std::string Gst(const char* time, const char* sd_lat, const char* sd_lon) {
  return "GPGST," + std::string(time) + ",1.0,1.0,1.0,0.0," + sd_lat + "," + sd_lon + ",1.0";
}

TEST(AccuracyTable, FixQualityGivesTheDocumentedClassValues) {
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(4), 0.02);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(5), 0.5);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(2), 1.0);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(1), 5.0);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(3), 5.0);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(6), 10.0);
  EXPECT_DOUBLE_EQ(AccuracyFromFixQuality(8), 10.0);
}

TEST(PositionTracker, GgaAloneTakesItsAccuracyFromTheFixQualityAndReportsMslAltitude) {
  NmeaPositionTracker tracker;
  EXPECT_FALSE(tracker.Current());
  tracker.Feed(Line(Gga("100000.00", 4)));
  const auto sample = tracker.Current();
  ASSERT_TRUE(sample);
  ASSERT_EQ(sample->size(), 4u);
  EXPECT_DOUBLE_EQ((*sample)[0], 45.0);
  EXPECT_DOUBLE_EQ((*sample)[1], 7.0);
  EXPECT_DOUBLE_EQ((*sample)[2], 250.0);  // MSL, the geoid separation is not added
  EXPECT_DOUBLE_EQ((*sample)[3], 0.02);
}

TEST(PositionTracker, GstOfTheSameEpochRefinesTheAccuracyInEitherOrder) {
  NmeaPositionTracker after;
  after.Feed(Line(Gga("100000.00", 5)));
  after.Feed(Line(Gst("100000.00", "0.03", "0.04")));
  EXPECT_NEAR((*after.Current())[3], 0.05, 1e-12);

  NmeaPositionTracker before;
  before.Feed(Line(Gst("100000.00", "0.03", "0.04")));
  before.Feed(Line(Gga("100000.00", 5)));
  EXPECT_NEAR((*before.Current())[3], 0.05, 1e-12);
}

TEST(PositionTracker, EarlierGstIsUsedUntilANewerOneButNotWhenTooOld) {
  NmeaPositionTracker tracker;
  tracker.Feed(Line(Gst("100000.00", "0.3", "0.4")));
  tracker.Feed(Line(Gga("100001.00", 4)));
  EXPECT_NEAR((*tracker.Current())[3], 0.5, 1e-12);
  tracker.Feed(Line(Gga("100010.00", 4)));  // 10 s: still within the bound
  EXPECT_NEAR((*tracker.Current())[3], 0.5, 1e-12);
  tracker.Feed(Line(Gga("100010.50", 4)));  // 10.5 s: stale, back to the table
  EXPECT_DOUBLE_EQ((*tracker.Current())[3], 0.02);
  tracker.Feed(Line(Gst("100010.50", "0.006", "0.008")));
  EXPECT_NEAR((*tracker.Current())[3], 0.01, 1e-12);
}

TEST(PositionTracker, GstOfTheNextEpochWaitsForItsGga) {
  NmeaPositionTracker tracker;
  tracker.Feed(Line(Gga("100000.00", 5)));
  tracker.Feed(Line(Gst("100000.00", "0.3", "0.4")));
  tracker.Feed(Line(Gst("100001.00", "3", "4")));  // arrives before its GGA
  EXPECT_NEAR((*tracker.Current())[3], 0.5, 1e-12);
  tracker.Feed(Line(Gga("100001.00", 5)));
  EXPECT_NEAR((*tracker.Current())[3], 5.0, 1e-12);
}

TEST(PositionTracker, GstJustBeforeMidnightServesTheFirstEpochAfterIt) {
  NmeaPositionTracker tracker;
  tracker.Feed(Line(Gst("235959.00", "0.3", "0.4")));
  tracker.Feed(Line(Gga("000000.00", 4)));
  EXPECT_NEAR((*tracker.Current())[3], 0.5, 1e-12);
  EXPECT_EQ(UtcDifference(0, kMillisPerDay - 1000), 1000);
  EXPECT_EQ(UtcDifference(kMillisPerDay - 1000, 0), -1000);
}

TEST(PositionTracker, LosingTheFixClearsThePosition) {
  NmeaPositionTracker tracker;
  tracker.Feed(Line(Gga("100000.00", 4)));
  tracker.Feed(Line("GPGGA,100001.00,,,,,0,00,99.9,,M,,M,,"));
  EXPECT_FALSE(tracker.Current());
}

TEST(NmeaFileSource, ReplaysOneEpochPerCallAndHoldsTheLastPosition) {
  const std::string file_text =
      // epoch 1: GGA then GST
      Nmea(Gga("120000.00", 5, "4500.000")) + "\r\n" + Nmea(Gst("120000.00", "0.3", "0.4")) +
      "\r\n" +
      // epoch 2: GST first, an untimed GSV between, GGA last
      Nmea(Gst("120001.00", "0.06", "0.08")) + "\r\n" + Nmea("GPGSV,1,1,01,01,40,083,46") + "\r\n" +
      Nmea(Gga("120001.00", 4, "4501.000")) + "\r\n\r\n" +
      // epoch 3: no fix
      Nmea("GPGGA,120002.00,,,,,0,00,99.9,,M,,M,,") + "\r\n" +
      // epoch 4: its GGA is corrupted, only its GST survives
      "$GPGGA,120003.00,4502.000,N,00700.000,E,4,12,0.8,250.0,M,47.0,M,,*00\r\n" +
      Nmea(Gst("120003.00", "0.6", "0.8")) + "\r\n" +
      // epoch 5: GGA without GST, last line without newline
      Nmea(Gga("120004.00", 2, "4503.000"));
  TempFile file(file_text);
  NmeaFilePositionSource source(file.Path());

  auto first = source.Next();
  ASSERT_TRUE(first);
  EXPECT_DOUBLE_EQ((*first)[0], 45.0);
  EXPECT_NEAR((*first)[3], 0.5, 1e-12);

  auto second = source.Next();
  ASSERT_TRUE(second);
  EXPECT_NEAR((*second)[0], 45.0 + 1.0 / 60, 1e-12);
  EXPECT_NEAR((*second)[3], 0.1, 1e-12);

  EXPECT_FALSE(source.Next());  // no fix
  EXPECT_FALSE(source.Next());  // bad GGA

  auto fifth = source.Next();
  ASSERT_TRUE(fifth);
  EXPECT_NEAR((*fifth)[0], 45.0 + 3.0 / 60, 1e-12);
  // Epoch 4's GST is one second old: still used (0.6, 0.8 -> 1.0), not the DGPS table value.
  EXPECT_NEAR((*fifth)[3], 1.0, 1e-12);

  EXPECT_EQ(source.Next(), fifth);  // held at end of file
  EXPECT_EQ(source.Next(), fifth);

  const PositionCounters counters = source.Counters();
  EXPECT_EQ(counters.sentences_read, 9u);
  EXPECT_EQ(counters.Count(NmeaStatus::kBadChecksum), 1u);
  EXPECT_EQ(counters.Count(NmeaStatus::kNoFix), 1u);
  EXPECT_EQ(counters.Count(NmeaStatus::kIgnored), 1u);
  EXPECT_EQ(counters.BadSentences(), 1u);  // a GGA without a fix is well formed
  EXPECT_EQ(counters.positions_produced, 5u);
  EXPECT_EQ(counters.Summary(), "sentences 9, positions 5, no-fix 1, bad: bad-checksum 1");
}

TEST(NmeaFileSource, MissingFileIsAnOptionError) {
  EXPECT_THROW(NmeaFilePositionSource("/nonexistent/receiver.nmea"), OptionError);
}

}  // namespace
}  // namespace ntrip_host
