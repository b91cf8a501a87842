#pragma once
// The receiver's position and the NMEA GGA sentence that tells the caster where it is.
#include <chrono>
#include <functional>
#include <string>

namespace tarno {

// UTC wall clock read when a sentence is stamped; tests pin it.
using UtcClock = std::function<std::chrono::system_clock::time_point()>;

class GpsCoordinate {
 public:
  // Throws std::invalid_argument for a latitude outside [-90, 90], a longitude outside
  // [-180, 180], or any value that is not a finite number (a receiver without a fix says NaN).
  GpsCoordinate(double latitude, double longitude, double altitude);

  double latitude() const { return _latitude; }
  double longitude() const { return _longitude; }
  double altitude() const { return _altitude; }

 private:
  double _latitude;
  double _longitude;
  double _altitude;
};

// Replaces *sentence with a complete GGA sentence (checksum and CR LF included) stamped with
// the current UTC time. Returns -1 for a null pointer or an altitude too large for the
// sentence (then *sentence is left empty), else 0 when the checksum reads back correctly.
int GenerateGGA(double latitude, double longitude, double altitude, std::string* sentence);
int GenerateGGA(double latitude, double longitude, double altitude, std::string* sentence,
                const UtcClock& utc_clock);

}  // namespace tarno
