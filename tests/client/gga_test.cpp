#include "gga.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

using tarno::GenerateGGA;
using tarno::GpsCoordinate;

// A UTC clock pinned at the given time of day (on 2024-01-01).
tarno::UtcClock PinnedAt(int hour, int minute, int second) {
  using namespace std::chrono;
  const system_clock::time_point when = sys_days(year(2024) / January / 1) + hours(hour) +
                                        minutes(minute) + seconds(second);
  return [when] { return when; };
}

std::string Sentence(double lat, double lon, double alt,
                     tarno::UtcClock clock = PinnedAt(0, 0, 0)) {
  std::string s;
  EXPECT_EQ(GenerateGGA(lat, lon, alt, &s, clock), 0);
  return s;
}

std::string Field(const std::string& sentence, int index) {
  std::size_t begin = 0;
  for (int i = 0; i < index; ++i) begin = sentence.find(',', begin) + 1;
  return sentence.substr(begin, sentence.find_first_of(",*", begin) - begin);
}

TEST(GenerateGGA, ParisAtTwelveThirtyFourIsTheWorkedSentence) {
  EXPECT_EQ(Sentence(48.8584, 2.2945, 35, PinnedAt(12, 34, 56)),
            "$GPGGA,123456.00,4851.5040000,N,00217.6700000,E,1,30,1.2,35.0000,M,-2.860,M,,0000*70"
            "\r\n");
}

TEST(GenerateGGA, SantiagoAtSevenFiveNineIsTheWorkedSentence) {
  EXPECT_EQ(Sentence(-33.8568, -70.6483, 520.25, PinnedAt(7, 5, 9)),
            "$GPGGA,070509.00,3351.4080000,S,07038.8980000,W,1,30,1.2,520.2500,M,-2.860,M,,0000*44"
            "\r\n");
}

TEST(GenerateGGA, ZeroCoordinatesGiveZeroFieldsWithSouthAndWest) {
  const std::string s = Sentence(0, 0, 0);
  EXPECT_EQ(Field(s, 2), "0000.0000000");
  EXPECT_EQ(Field(s, 3), "S");
  EXPECT_EQ(Field(s, 4), "00000.0000000");
  EXPECT_EQ(Field(s, 5), "W");
}

TEST(GenerateGGA, DegreesAreZeroPaddedToTwoAndThreeDigits) {
  const std::string s = Sentence(5.5, 5.5, 0);
  EXPECT_EQ(Field(s, 2), "0530.0000000");
  EXPECT_EQ(Field(s, 4), "00530.0000000");
}

TEST(GenerateGGA, NegativeCoordinatesGiveTheDigitsOfTheirAbsoluteValues) {
  const std::string north = Sentence(12.25, 100.75, 0);
  const std::string south = Sentence(-12.25, -100.75, 0);
  EXPECT_EQ(Field(north, 2), Field(south, 2));
  EXPECT_EQ(Field(north, 4), Field(south, 4));
  EXPECT_EQ(Field(south, 3), "S");
  EXPECT_EQ(Field(south, 5), "W");
}

TEST(GenerateGGA, TimeFieldAlwaysEndsInTwoZeroDecimals) {
  EXPECT_EQ(Field(Sentence(1, 1, 1, PinnedAt(23, 59, 59)), 1), "235959.00");
}

TEST(GenerateGGA, ChecksumCoversExactlyTheCharactersBetweenDollarAndStar) {
  const std::string s = Sentence(45.123456, -122.654321, 12.5, PinnedAt(1, 2, 3));
  const std::size_t star = s.find('*');
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02X", sum);
  EXPECT_EQ(s.substr(star + 1), std::string(expected) + "\r\n");
}

TEST(GenerateGGA, NullOutputReturnsMinusOne) {
  EXPECT_EQ(GenerateGGA(1, 2, 3, nullptr), -1);
}

TEST(GenerateGGA, AltitudeTooLongForTheSentenceIsRefusedRatherThanCut) {
  std::string s = "old";
  EXPECT_EQ(GenerateGGA(1, 2, 1e200, &s, PinnedAt(0, 0, 0)), -1);
  EXPECT_TRUE(s.empty());
}

TEST(GpsCoordinate, AcceptsTheRangeLimits) {
  EXPECT_NO_THROW(GpsCoordinate(90, 180, 0));
  EXPECT_NO_THROW(GpsCoordinate(-90, -180, 0));
}

TEST(GpsCoordinate, RefusesValuesJustOutsideTheRangeWithTheMessage) {
  for (const auto& [lat, lon] :
       {std::pair{90.000001, 0.0}, {-90.5, 0.0}, {0.0, 180.5}, {0.0, -180.000001}}) {
    try {
      GpsCoordinate(lat, lon, 0);
      ADD_FAILURE() << lat << ", " << lon << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Invalid latitude or longitude values");
    }
  }
}

TEST(GpsCoordinate, RefusesNotANumberSoThatNoSentenceCarriesIt) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_THROW(GpsCoordinate(nan, 0, 0), std::invalid_argument);
  EXPECT_THROW(GpsCoordinate(0, nan, 0), std::invalid_argument);
  EXPECT_THROW(GpsCoordinate(inf, 0, 0), std::invalid_argument);
  try {
    GpsCoordinate(0, 0, nan);
    ADD_FAILURE() << "NaN altitude accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("altitude"), std::string::npos);
  }
  EXPECT_THROW(GpsCoordinate(0, 0, -inf), std::invalid_argument);
}

TEST(GpsCoordinate, KeepsItsThreeValues) {
  const GpsCoordinate c(1.5, -2.5, 300.25);
  EXPECT_EQ(c.latitude(), 1.5);
  EXPECT_EQ(c.longitude(), -2.5);
  EXPECT_EQ(c.altitude(), 300.25);
}

}  // namespace
