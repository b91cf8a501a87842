#include "positions/nmea_sentence.h"

#include "common/decimal_text.h"

#include <array>
#include <cmath>

namespace ntrip_host {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Splits the body (between '$' and '*') at commas; at most kMaxFields fields are kept, a
// sentence with more is still parsed on the fields we know.
constexpr std::size_t kMaxFields = 24;
struct Fields {
  std::array<std::string_view, kMaxFields> items{};
  std::size_t count = 0;
  std::string_view operator[](std::size_t i) const { return i < count ? items[i] : ""; }
};

Fields SplitFields(std::string_view body) {
  Fields fields;
  while (fields.count < kMaxFields) {
    const auto comma = body.find(',');
    fields.items[fields.count++] = body.substr(0, comma);
    if (comma == std::string_view::npos) break;
    body.remove_prefix(comma + 1);
  }
  return fields;
}

NmeaParse Fail(NmeaStatus status, std::optional<UtcMillis> utc = std::nullopt) {
  NmeaParse parse;
  parse.status = status;
  parse.utc = utc;
  return parse;
}

// An empty optional field gives nullopt; a non-empty one must parse.
template <typename T>
bool OptionalField(std::string_view text, std::optional<T>& out, bool allow_sign) {
  if (text.empty()) return true;
  if constexpr (std::is_same_v<T, int>) {
    const auto value = ParseUnsigned(text, 999);
    if (!value) return false;
    out = static_cast<int>(*value);
  } else {
    const auto value = ParseDecimal(text, allow_sign);
    if (!value) return false;
    out = *value;
  }
  return true;
}

// GGA fields after the address: 0 time, 1 lat, 2 N/S, 3 lon, 4 E/W, 5 quality, 6 satellites,
// 7 HDOP, 8 altitude, 9 'M', 10 geoid separation, 11 'M', 12 age, 13 station.
NmeaParse ParseGga(const Fields& f) {
  if (f[1].empty()) return Fail(NmeaStatus::kMissingField);
  const auto utc = ParseNmeaTime(f[1]);
  if (!utc) return Fail(NmeaStatus::kBadField);
  const std::string_view quality_text = f[6];
  if (quality_text.empty()) return Fail(NmeaStatus::kMissingField, utc);
  const auto quality = ParseUnsigned(quality_text, 9);
  if (!quality) return Fail(NmeaStatus::kBadField, utc);
  // Decided before the position: receivers without a fix leave the position fields empty.
  if (*quality == 0) return Fail(NmeaStatus::kNoFix, utc);

  for (const std::size_t i : {2u, 3u, 4u, 5u, 9u}) {
    if (f[i].empty()) return Fail(NmeaStatus::kMissingField, utc);
  }
  GgaFix fix;
  fix.utc = *utc;
  fix.quality = static_cast<int>(*quality);
  const auto lat = ParseNmeaAngle(f[2], f[3], true);
  const auto lon = ParseNmeaAngle(f[4], f[5], false);
  const auto alt = ParseDecimal(f[9], true);
  if (!lat || !lon || !alt) return Fail(NmeaStatus::kBadField, utc);
  if (!f[10].empty() && f[10] != "M") return Fail(NmeaStatus::kBadField, utc);
  if (!f[12].empty() && f[12] != "M") return Fail(NmeaStatus::kBadField, utc);
  fix.latitude_deg = *lat;
  fix.longitude_deg = *lon;
  fix.altitude_msl_m = *alt;
  if (!OptionalField(f[7], fix.satellites, false) || !OptionalField(f[8], fix.hdop, false) ||
      !OptionalField(f[11], fix.geoid_separation_m, true)) {
    return Fail(NmeaStatus::kBadField, utc);
  }
  NmeaParse parse;
  parse.status = NmeaStatus::kOk;
  parse.utc = utc;
  parse.sentence = fix;
  return parse;
}

// GST fields after the address: 0 time, 1 RMS, 2 sd major, 3 sd minor, 4 orientation,
// 5 sd latitude, 6 sd longitude, 7 sd altitude.
NmeaParse ParseGst(const Fields& f) {
  if (f[1].empty()) return Fail(NmeaStatus::kMissingField);
  const auto utc = ParseNmeaTime(f[1]);
  if (!utc) return Fail(NmeaStatus::kBadField);
  if (f[6].empty() || f[7].empty()) return Fail(NmeaStatus::kMissingField, utc);
  GstStatistics gst;
  gst.utc = *utc;
  const auto sd_lat = ParseDecimal(f[6], false);
  const auto sd_lon = ParseDecimal(f[7], false);
  if (!sd_lat || !sd_lon) return Fail(NmeaStatus::kBadField, utc);
  gst.sd_latitude_m = *sd_lat;
  gst.sd_longitude_m = *sd_lon;
  if (!OptionalField(f[8], gst.sd_altitude_m, false)) return Fail(NmeaStatus::kBadField, utc);
  NmeaParse parse;
  parse.status = NmeaStatus::kOk;
  parse.utc = utc;
  parse.sentence = gst;
  return parse;
}

}  // namespace

std::string_view NmeaStatusName(NmeaStatus status) {
  switch (status) {
    case NmeaStatus::kOk:
      return "ok";
    case NmeaStatus::kIgnored:
      return "ignored";
    case NmeaStatus::kNotNmea:
      return "not-nmea";
    case NmeaStatus::kTooLong:
      return "too-long";
    case NmeaStatus::kNoChecksum:
      return "no-checksum";
    case NmeaStatus::kBadChecksum:
      return "bad-checksum";
    case NmeaStatus::kMissingField:
      return "missing-field";
    case NmeaStatus::kBadField:
      return "bad-field";
    case NmeaStatus::kNoFix:
      return "no-fix";
  }
  return "unknown";
}

double GstStatistics::HorizontalAccuracy() const {
  return std::sqrt(sd_latitude_m * sd_latitude_m + sd_longitude_m * sd_longitude_m);
}

std::optional<UtcMillis> ParseNmeaTime(std::string_view field) {
  if (field.size() < 6) return std::nullopt;
  const auto hh = ParseUnsigned(field.substr(0, 2), 23);
  const auto mm = ParseUnsigned(field.substr(2, 2), 59);
  const auto ss = ParseDecimal(field.substr(4), false);
  // 60 allowed for a leap second.
  if (!hh || !mm || !ss || *ss >= 61.0 || field[4] == '.' || field[5] == '.' ||
      (field.size() > 6 && field[6] != '.')) {
    return std::nullopt;
  }
  const auto millis = static_cast<UtcMillis>(std::llround(*ss * 1000.0));
  return (static_cast<UtcMillis>(*hh) * 3600 + static_cast<UtcMillis>(*mm) * 60) * 1000 + millis;
}

std::optional<double> ParseNmeaAngle(std::string_view value, std::string_view hemisphere,
                                     bool is_latitude) {
  const auto raw = ParseDecimal(value, false);
  if (!raw) return std::nullopt;
  const double degrees = std::floor(*raw / 100.0);
  const double minutes = *raw - degrees * 100.0;
  if (minutes >= 60.0) return std::nullopt;
  double angle = degrees + minutes / 60.0;
  if (angle > (is_latitude ? 90.0 : 180.0)) return std::nullopt;
  const char positive = is_latitude ? 'N' : 'E';
  const char negative = is_latitude ? 'S' : 'W';
  if (hemisphere.size() != 1) return std::nullopt;
  if (hemisphere[0] == negative) {
    angle = -angle;
  } else if (hemisphere[0] != positive) {
    return std::nullopt;
  }
  return angle;
}

NmeaParse ParseNmeaLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  if (line.size() > kMaxNmeaLineLength) return Fail(NmeaStatus::kTooLong);
  if (line.empty() || line.front() != '$') return Fail(NmeaStatus::kNotNmea);
  const auto star = line.rfind('*');
  if (star == std::string_view::npos) return Fail(NmeaStatus::kNoChecksum);
  const std::string_view body = line.substr(1, star - 1);
  const std::string_view trailer = line.substr(star + 1);
  if (trailer.size() != 2) return Fail(NmeaStatus::kBadChecksum);
  const int high = HexValue(trailer[0]);
  const int low = HexValue(trailer[1]);
  if (high < 0 || low < 0) return Fail(NmeaStatus::kBadChecksum);
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  if (sum != static_cast<unsigned>(high * 16 + low)) return Fail(NmeaStatus::kBadChecksum);

  const Fields fields = SplitFields(body);
  const std::string_view address = fields[0];
  // Talker (two letters) + type; proprietary sentences start with 'P' and are not ours.
  if (address.size() != 5 || address[0] == 'P') return Fail(NmeaStatus::kIgnored);
  const std::string_view type = address.substr(2);
  if (type == "GGA") return ParseGga(fields);
  if (type == "GST") return ParseGst(fields);
  return Fail(NmeaStatus::kIgnored);
}

}  // namespace ntrip_host
