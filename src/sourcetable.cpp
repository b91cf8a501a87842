#include "sourcetable.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>

namespace tarno {

namespace {

constexpr double kEarthRadiusKm = 6371.0088;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The fields of a row; the last one keeps any further separators (the misc field may hold them).
std::vector<std::string_view> Fields(std::string_view line, std::size_t count) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const std::size_t semicolon = line.find(';');
    if (semicolon == std::string_view::npos) break;
    fields.push_back(line.substr(0, semicolon));
    line.remove_prefix(semicolon + 1);
  }
  fields.push_back(line);
  return fields;
}

// An empty numeric field reads as zero: casters often leave carrier or bit rate blank.
std::optional<int> Integer(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<bool> Flag(std::string_view text) {
  const auto value = Integer(text);
  if (!value || (*value != 0 && *value != 1)) return std::nullopt;
  return *value == 1;
}

std::optional<double> Decimal(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Latitude and longitude, or nothing (both 0) when either is missing or off the globe.
bool ReadPosition(std::string_view lat_text, std::string_view lon_text, double& latitude,
                  double& longitude) {
  const auto lat = Decimal(lat_text);
  const auto lon = Decimal(lon_text);
  latitude = longitude = 0;
  if (!lat || !lon || *lat < -90 || *lat > 90 || *lon < -180 || *lon > 360) return false;
  latitude = *lat;
  longitude = *lon > 180 ? *lon - 360 : *lon;
  return true;
}

bool ReadStream(std::string_view line, SourcetableStream& s) {
  // STR + 18 fields; a row without the misc field is still whole.
  const auto f = Fields(line, 19);
  if (f.size() < 18 || Trim(f[1]).empty()) return false;
  const auto carrier = Integer(f[5]);
  const auto nmea = Flag(f[11]);
  const auto solution = Flag(f[12]);
  const auto bitrate = Integer(f[17]);
  if (!carrier || !nmea || !solution || !bitrate) return false;
  s.located = ReadPosition(f[9], f[10], s.latitude, s.longitude);
  s.mountpoint = Trim(f[1]);
  s.identifier = f[2];
  s.format = Trim(f[3]);
  s.format_details = f[4];
  s.carrier = *carrier;
  s.nav_systems = f[6];
  s.network = f[7];
  s.country = f[8];
  s.nmea = *nmea;
  s.network_solution = *solution;
  s.generator = f[13];
  s.compression = f[14];
  s.authentication = Trim(f[15]);
  s.fee = Trim(f[16]);
  s.bitrate = *bitrate;
  if (f.size() > 18) s.misc = Trim(f[18]);
  return true;
}

bool ReadCaster(std::string_view line, SourcetableCaster& c) {
  const auto f = Fields(line, 12);
  if (f.size() < 9 || Trim(f[1]).empty()) return false;
  const auto port = Integer(f[2]);
  const auto nmea = Flag(f[5]);
  if (!port || *port <= 0 || *port > 65535 || !nmea) return false;
  c.located = ReadPosition(f[7], f[8], c.latitude, c.longitude);
  c.host = Trim(f[1]);
  c.port = *port;
  c.identifier = f[3];
  c.operator_name = f[4];
  c.nmea = *nmea;
  c.country = f[6];
  if (f.size() > 9) c.fallback_host = Trim(f[9]);
  if (f.size() > 10) {
    const auto fallback_port = Integer(f[10]);
    if (!fallback_port) return false;
    c.fallback_port = *fallback_port;
  }
  if (f.size() > 11) c.misc = Trim(f[11]);
  return true;
}

bool ReadNetwork(std::string_view line, SourcetableNetwork& n) {
  const auto f = Fields(line, 9);
  if (f.size() < 5 || Trim(f[1]).empty()) return false;
  n.identifier = Trim(f[1]);
  n.operator_name = f[2];
  n.authentication = Trim(f[3]);
  n.fee = Trim(f[4]);
  if (f.size() > 5) n.web_network = f[5];
  if (f.size() > 6) n.web_stream = f[6];
  if (f.size() > 7) n.web_registration = f[7];
  if (f.size() > 8) n.misc = Trim(f[8]);
  return true;
}

std::string_view Kind(std::string_view line) {
  return line.substr(0, std::min(line.find(';'), line.size()));
}

}  // namespace

Sourcetable ParseSourcetable(std::string_view body) {
  Sourcetable table;
  while (!body.empty() && !table.complete) {
    const std::size_t lf = body.find('\n');
    const std::string_view line = Trim(body.substr(0, lf));
    body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
    if (line.empty()) continue;
    const std::string_view kind = Kind(line);
    bool read = false;
    if (kind == "STR") {
      SourcetableStream stream;
      if ((read = ReadStream(line, stream))) table.streams.push_back(std::move(stream));
    } else if (kind == "CAS") {
      SourcetableCaster caster;
      if ((read = ReadCaster(line, caster))) table.casters.push_back(std::move(caster));
    } else if (kind == "NET") {
      SourcetableNetwork network;
      if ((read = ReadNetwork(line, network))) table.networks.push_back(std::move(network));
    } else if (line == "ENDSOURCETABLE") {
      table.complete = read = true;
    }
    if (!read) ++table.malformed_rows;
  }
  return table;
}

double DistanceKm(double latitude1, double longitude1, double latitude2, double longitude2) {
  constexpr double kRadians = std::numbers::pi / 180.0;
  const double phi1 = latitude1 * kRadians;
  const double phi2 = latitude2 * kRadians;
  const double dphi = (latitude2 - latitude1) * kRadians;
  const double dlambda = (longitude2 - longitude1) * kRadians;
  // Haversine: well conditioned for the short distances that matter here.
  const double a = std::sin(dphi / 2) * std::sin(dphi / 2) +
                   std::cos(phi1) * std::cos(phi2) * std::sin(dlambda / 2) * std::sin(dlambda / 2);
  return 2 * kEarthRadiusKm * std::asin(std::sqrt(std::clamp(a, 0.0, 1.0)));
}

std::vector<RankedStream> SortByDistance(const std::vector<SourcetableStream>& streams,
                                         double latitude, double longitude) {
  std::vector<RankedStream> ranked;
  ranked.reserve(streams.size());
  for (const auto& stream : streams) {
    ranked.push_back({stream, stream.located ? DistanceKm(latitude, longitude, stream.latitude,
                                                          stream.longitude)
                                             : -1.0});
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const RankedStream& a, const RankedStream& b) {
    const bool a_known = a.distance_km >= 0, b_known = b.distance_km >= 0;
    if (a_known != b_known) return a_known;
    return a_known && a.distance_km < b.distance_km;
  });
  return ranked;
}

bool IsRtcm3Format(std::string_view format) {
  std::string compact;
  for (const char c : format) {
    if (c != ' ') compact += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return compact == "RTCM3" || compact.rfind("RTCM3.", 0) == 0;
}

}  // namespace tarno
