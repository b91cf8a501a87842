// Parsing of single NMEA 0183 lines into the two sentences the program uses: GGA (position) and
// GST (error statistics). Pure functions, no I/O, no state: safe to drive from a fuzzer.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

namespace ntrip_host {

// Why a line was not used. `kIgnored` and `kNoFix` are not faults: a well-formed sentence of a
// type the program does not need (RMC, GSV, proprietary...), or a GGA saying there is no fix.
enum class NmeaStatus {
  kOk = 0,
  kIgnored,
  kNotNmea,       // does not start with '$' (binary noise, partial line)
  kTooLong,       // longer than kMaxNmeaLineLength
  kNoChecksum,    // no "*HH" trailer: refused, a corrupted line cannot be told from a good one
  kBadChecksum,   // trailer present but wrong or not two hex digits
  kMissingField,  // a field the position needs is empty or absent
  kBadField,      // a field is present but not a valid value
  kNoFix,         // GGA with fix quality 0
};
inline constexpr int kNmeaStatusCount = 9;

// Short stable name of a status, for counters and log lines ("bad-checksum", ...).
std::string_view NmeaStatusName(NmeaStatus status);

// NMEA allows 82 characters; proprietary sentences run far longer (a u-blox PUBX,03 lists every
// satellite in some 400), so up to 1 KiB is a sentence and only past that is it refused.
inline constexpr std::size_t kMaxNmeaLineLength = 1024;

// UTC time of day in whole milliseconds: exact equality decides which sentences form one epoch.
using UtcMillis = std::int64_t;
inline constexpr UtcMillis kMillisPerDay = 86'400'000;

struct GgaFix {
  UtcMillis utc = 0;
  double latitude_deg = 0;   // north positive
  double longitude_deg = 0;  // east positive
  int quality = 0;           // 1 GPS, 2 DGPS, 4 RTK fixed, 5 RTK float, ...
  std::optional<int> satellites;
  std::optional<double> hdop;
  double altitude_msl_m = 0;  // above mean sea level, as GGA carries it
  std::optional<double> geoid_separation_m;
};

struct GstStatistics {
  UtcMillis utc = 0;
  double sd_latitude_m = 0;
  double sd_longitude_m = 0;
  std::optional<double> sd_altitude_m;
  // sqrt(sd_lat^2 + sd_lon^2): the horizontal accuracy reported to the component.
  double HorizontalAccuracy() const;
};

struct NmeaParse {
  NmeaStatus status = NmeaStatus::kNotNmea;
  // Set for GGA/GST whose time field parsed, even when another field was bad or there was no
  // fix: the time still marks which epoch the sentence belongs to.
  std::optional<UtcMillis> utc;
  std::variant<std::monostate, GgaFix, GstStatistics> sentence;
};

// Parses one line. Trailing CR/LF and spaces are tolerated; anything else after "*HH" is not.
// The talker is not checked (GP, GN, GL, GA, GB, ...): any two-letter talker is accepted.
NmeaParse ParseNmeaLine(std::string_view line);

// Field-level helpers, exposed for the tests and for the other text parsers of the program.
std::optional<UtcMillis> ParseNmeaTime(std::string_view field);  // hhmmss[.sss]
// ddmm.mmmm / dddmm.mmmm plus hemisphere letter -> signed degrees.
std::optional<double> ParseNmeaAngle(std::string_view value, std::string_view hemisphere,
                                     bool is_latitude);

}  // namespace ntrip_host
