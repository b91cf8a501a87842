#include "gga.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <stdexcept>

namespace tarno {

GpsCoordinate::GpsCoordinate(double latitude, double longitude, double altitude)
    : _latitude(latitude), _longitude(longitude), _altitude(altitude) {
  // Written so that NaN fails too: every comparison with NaN is false.
  if (!(latitude >= -90.0 && latitude <= 90.0) || !(longitude >= -180.0 && longitude <= 180.0)) {
    throw std::invalid_argument("Invalid latitude or longitude values");
  }
  if (!std::isfinite(altitude)) {
    throw std::invalid_argument("Invalid altitude value: not a finite number");
  }
}

namespace {

// Degrees times 100 plus the minutes: the ddmm.mmmm layout of NMEA.
double DegreesMinutes(double coordinate) {
  const double a = std::fabs(coordinate);
  const double d = std::floor(a);
  return ((a - d) * 60.0 / 100.0 + d) * 100.0;
}

unsigned Checksum(const char* begin, const char* end) {
  unsigned sum = 0;
  for (const char* p = begin; p != end; ++p) sum ^= static_cast<unsigned char>(*p);
  return sum;
}

}  // namespace

int GenerateGGA(double latitude, double longitude, double altitude, std::string* sentence) {
  return GenerateGGA(latitude, longitude, altitude, sentence,
                     [] { return std::chrono::system_clock::now(); });
}

int GenerateGGA(double latitude, double longitude, double altitude, std::string* sentence,
                const UtcClock& utc_clock) {
  if (sentence == nullptr) return -1;
  sentence->clear();

  const auto when = utc_clock ? utc_clock() : std::chrono::system_clock::now();
  const auto second = std::chrono::floor<std::chrono::seconds>(when);
  const std::chrono::hh_mm_ss utc(second - std::chrono::floor<std::chrono::days>(second));

  char body[256];
  const int length = std::snprintf(
      body, sizeof body,
      "$GPGGA,%02.0f%02.0f%05.2f,%012.7f,%s,%013.7f,%s,1,30,1.2,%.4f,M,-2.860,M,,0000",
      static_cast<double>(utc.hours().count()), static_cast<double>(utc.minutes().count()),
      static_cast<double>(utc.seconds().count()), DegreesMinutes(latitude), latitude > 0 ? "N" : "S",
      DegreesMinutes(longitude), longitude > 0 ? "E" : "W", altitude);
  // A cut sentence would carry a checksum of text the caster never sees: refuse it instead.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof body) return -1;

  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X%c%c", Checksum(body + 1, body + length), 13, 10);
  *sentence = std::string(body, static_cast<std::size_t>(length)) + tail;

  // Read back the checksum just written and compare it with the characters it covers.
  const std::size_t star = sentence->find('*');
  const unsigned written =
      static_cast<unsigned>(std::strtoul(sentence->c_str() + star + 1, nullptr, 16));
  const unsigned computed = Checksum(sentence->data() + 1, sentence->data() + star);
  return static_cast<int>(written) - static_cast<int>(computed);
}

}  // namespace tarno
