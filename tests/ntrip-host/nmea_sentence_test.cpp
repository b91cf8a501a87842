#include "positions/nmea_sentence.h"

#include "nmea_text.h"

#include <gtest/gtest.h>

#include <random>

namespace ntrip_host {
namespace {

const GgaFix& Gga(const NmeaParse& parse) {
  return std::get<GgaFix>(parse.sentence);
}
const GstStatistics& Gst(const NmeaParse& parse) {
  return std::get<GstStatistics>(parse.sentence);
}

TEST(NmeaGga, TextbookSentenceGivesItsPositionTimeAndQuality) {
  const auto parse =
      ParseNmeaLine("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
  ASSERT_EQ(parse.status, NmeaStatus::kOk);
  const GgaFix& fix = Gga(parse);
  EXPECT_EQ(fix.utc, (12 * 3600 + 35 * 60 + 19) * 1000);
  EXPECT_NEAR(fix.latitude_deg, 48.1173, 1e-9);              // 48 + 7.038/60
  EXPECT_NEAR(fix.longitude_deg, 11.0 + 31.0 / 60.0, 1e-9);  // 11 + 31/60
  EXPECT_EQ(fix.quality, 1);
  EXPECT_EQ(fix.satellites, 8);
  EXPECT_DOUBLE_EQ(*fix.hdop, 0.9);
  EXPECT_DOUBLE_EQ(fix.altitude_msl_m, 545.4);
  EXPECT_DOUBLE_EQ(*fix.geoid_separation_m, 46.9);
  EXPECT_EQ(parse.utc, fix.utc);
}

TEST(NmeaGga, SouthAndWestGiveNegativeAnglesAndFractionalSecondsKeepMillis) {
  const auto parse =
      ParseNmeaLine(Nmea("GNGGA,235959.25,3351.5000,S,15112.7500,W,4,21,0.6,-12.5,M,,M,1.0,0007"));
  ASSERT_EQ(parse.status, NmeaStatus::kOk);
  EXPECT_EQ(Gga(parse).utc, 86'399'250);
  EXPECT_NEAR(Gga(parse).latitude_deg, -(33 + 51.5 / 60), 1e-12);
  EXPECT_NEAR(Gga(parse).longitude_deg, -(151 + 12.75 / 60), 1e-12);
  EXPECT_DOUBLE_EQ(Gga(parse).altitude_msl_m, -12.5);
  EXPECT_FALSE(Gga(parse).geoid_separation_m.has_value());
}

TEST(NmeaGga, AnyTalkerIsAccepted) {
  for (const char* talker : {"GP", "GN", "GL", "GA", "GB", "BD", "GQ"}) {
    const auto parse = ParseNmeaLine(
        Nmea(std::string(talker) + "GGA,000001,4500.0,N,00700.0,E,2,5,1.2,10,M,0,M,,"));
    EXPECT_EQ(parse.status, NmeaStatus::kOk) << talker;
  }
}

TEST(NmeaChecksum, LowerCaseHexIsAccepted) {
  EXPECT_EQ(ParseNmeaLine("$GPGGA,000001,4500.0,N,00700.0,E,1,5,1.2,10.0,M,0,M,,*6c").status,
            NmeaStatus::kOk);
  EXPECT_EQ(ParseNmeaLine("$GPGGA,000001,4500.0,N,00700.0,E,1,5,1.2,10.0,M,0,M,,*6C").status,
            NmeaStatus::kOk);
  EXPECT_EQ(ParseNmeaLine("$GPGGA,000001,4500.0,N,00700.0,E,1,5,1.2,10.0,M,0,M,,*6d").status,
            NmeaStatus::kBadChecksum);
}

TEST(NmeaChecksum, WrongMissingOrMalformedChecksumsAreRefused) {
  const std::string body = "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
  EXPECT_EQ(ParseNmeaLine("$" + body + "*48").status, NmeaStatus::kBadChecksum);
  EXPECT_EQ(ParseNmeaLine("$" + body).status, NmeaStatus::kNoChecksum);
  EXPECT_EQ(ParseNmeaLine("$" + body + "*4").status, NmeaStatus::kBadChecksum);
  EXPECT_EQ(ParseNmeaLine("$" + body + "*4G").status, NmeaStatus::kBadChecksum);
  EXPECT_EQ(ParseNmeaLine("$" + body + "*47x").status, NmeaStatus::kBadChecksum);
  // One flipped character in the body, same trailer.
  EXPECT_EQ(
      ParseNmeaLine("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.5,M,46.9,M,,*47").status,
      NmeaStatus::kBadChecksum);
}

TEST(NmeaGga, NoFixIsRefusedButKeepsItsEpochTime) {
  const auto parse = ParseNmeaLine(Nmea("GPGGA,101010.00,,,,,0,00,99.9,,M,,M,,"));
  EXPECT_EQ(parse.status, NmeaStatus::kNoFix);
  EXPECT_EQ(parse.utc, (10 * 3600 + 10 * 60 + 10) * 1000);
}

TEST(NmeaGga, MissingFieldsAreCountedAsMissing) {
  for (const char* body : {
           "GPGGA,101010,,N,00700.0,E,1,5,1.2,10,M,0,M,,",       // latitude
           "GPGGA,101010,4500.0,,00700.0,E,1,5,1.2,10,M,0,M,,",  // hemisphere
           "GPGGA,101010,4500.0,N,00700.0,E,1,5,1.2,,M,0,M,,",   // altitude
           "GPGGA,101010,4500.0,N,00700.0,E,,5,1.2,10,M,0,M,,",  // quality
           "GPGGA,101010,4500.0,N,00700.0",                      // cut short
           "GPGGA,,4500.0,N,00700.0,E,1,5,1.2,10,M,0,M,,",       // time
       }) {
    EXPECT_EQ(ParseNmeaLine(Nmea(body)).status, NmeaStatus::kMissingField) << body;
  }
}

TEST(NmeaGga, InvalidFieldsAreCountedAsBad) {
  for (const char* body : {
           "GPGGA,101010,4560.0,N,00700.0,E,1,5,1.2,10,M,0,M,,",   // 60 minutes
           "GPGGA,101010,9100.0,N,00700.0,E,1,5,1.2,10,M,0,M,,",   // latitude 91
           "GPGGA,101010,4500.0,N,18100.0,E,1,5,1.2,10,M,0,M,,",   // longitude 181
           "GPGGA,101010,4500.0,X,00700.0,E,1,5,1.2,10,M,0,M,,",   // hemisphere
           "GPGGA,101010,4500.0,N,00700.0,N,1,5,1.2,10,M,0,M,,",   // latitude letter for lon
           "GPGGA,101010,-4500.0,N,00700.0,E,1,5,1.2,10,M,0,M,,",  // sign in angle
           "GPGGA,251010,4500.0,N,00700.0,E,1,5,1.2,10,M,0,M,,",   // hour 25
           "GPGGA,101010,4500.0,N,00700.0,E,1,5,1.2,1e3,M,0,M,,",  // exponent
           "GPGGA,101010,4500.0,N,00700.0,E,1,5,1.2,nan,M,0,M,,",  // not a number
           "GPGGA,101010,4500.0,N,00700.0,E,1,5,1.2,10,F,0,M,,",   // feet
           "GPGGA,101010,4500.0,N,00700.0,E,1,x,1.2,10,M,0,M,,",   // satellites
           "GPGGA,101010,4500.0,N,00700.0,E,12,5,1.2,10,M,0,M,,",  // quality
       }) {
    EXPECT_EQ(ParseNmeaLine(Nmea(body)).status, NmeaStatus::kBadField) << body;
  }
}

TEST(NmeaGst, LatitudeAndLongitudeDeviationsCombineIntoHorizontalAccuracy) {
  const auto parse = ParseNmeaLine(Nmea("GNGST,101010.00,0.9,0.5,0.4,45.0,0.3,0.4,0.8"));
  ASSERT_EQ(parse.status, NmeaStatus::kOk);
  EXPECT_EQ(Gst(parse).utc, 36'610'000);
  EXPECT_DOUBLE_EQ(Gst(parse).sd_latitude_m, 0.3);
  EXPECT_DOUBLE_EQ(Gst(parse).sd_longitude_m, 0.4);
  EXPECT_NEAR(Gst(parse).HorizontalAccuracy(), 0.5, 1e-12);  // 3-4-5
  EXPECT_DOUBLE_EQ(*Gst(parse).sd_altitude_m, 0.8);
}

TEST(NmeaGst, EmptyOrBadDeviationsAreRefused) {
  EXPECT_EQ(ParseNmeaLine(Nmea("GPGST,101010.00,,,,,,,")).status, NmeaStatus::kMissingField);
  EXPECT_EQ(ParseNmeaLine(Nmea("GPGST,101010.00,0.9,0.5,0.4,45.0,-0.3,0.4,0.8")).status,
            NmeaStatus::kBadField);
  EXPECT_EQ(ParseNmeaLine(Nmea("GPGST,101010.00,0.9")).status, NmeaStatus::kMissingField);
}

TEST(NmeaLine, OtherSentencesAreIgnoredAndNoiseIsNotNmea) {
  EXPECT_EQ(
      ParseNmeaLine(Nmea("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,")).status,
      NmeaStatus::kIgnored);
  EXPECT_EQ(ParseNmeaLine(Nmea("PUBX,00,123519")).status, NmeaStatus::kIgnored);
  EXPECT_EQ(ParseNmeaLine("GPGGA,123519*47").status, NmeaStatus::kNotNmea);
  EXPECT_EQ(ParseNmeaLine(std::string_view("\xd3\x00\x13\x3e", 4)).status, NmeaStatus::kNotNmea);
  EXPECT_EQ(ParseNmeaLine("$" + std::string(1100, 'A') + "*00").status, NmeaStatus::kTooLong);
}

TEST(NmeaLine, ArbitraryBytesNeverCrashAndNeverParseAsPositions) {
  std::mt19937 random(7);
  const std::string seed = Nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
  for (int round = 0; round < 20000; ++round) {
    std::string line = seed;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < edits; ++i) {
      line[random() % line.size()] = static_cast<char>(random() % 256);
    }
    const auto parse = ParseNmeaLine(line);
    if (parse.status == NmeaStatus::kOk) {
      const auto& fix = std::get<GgaFix>(parse.sentence);
      EXPECT_LE(std::abs(fix.latitude_deg), 90.0);
      EXPECT_LE(std::abs(fix.longitude_deg), 180.0);
    }
  }
}

}  // namespace
}  // namespace ntrip_host
