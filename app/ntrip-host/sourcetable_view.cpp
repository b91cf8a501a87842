#include "sourcetable_view.h"

#include "common/decimal_text.h"
#include "common/option_text.h"

#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "caster_response.h"
#include "request_values.h"

namespace ntrip_host {

namespace {

std::vector<tarno::RankedStream> Ranked(const tarno::Sourcetable& table,
                                        const std::optional<Position>& from) {
  if (from) return tarno::SortByDistance(table.streams, from->latitude, from->longitude);
  std::vector<tarno::RankedStream> rows;
  for (const auto& stream : table.streams) rows.push_back({stream, -1});
  return rows;
}

// Invalid UTF-8 from a caster is replaced, never a reason to stop printing.
std::string Line(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string Km(double km) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", km);
  return text;
}

std::string Degrees(double value, bool known) {
  if (!known) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

nlohmann::json Coordinate(double value, bool known) {
  return known ? nlohmann::json(value) : nlohmann::json(nullptr);
}

}  // namespace

std::string SourcetableText(const tarno::Sourcetable& table, const std::optional<Position>& from) {
  std::string out;
  for (const auto& c : table.casters) {
    out += "caster " + Escaped(c.host) + ":" + std::to_string(c.port) + " " +
           Escaped(c.identifier) + " (" + Escaped(c.operator_name) + ", " + Escaped(c.country) +
           ")\n";
  }
  for (const auto& n : table.networks) {
    out += "network " + Escaped(n.identifier) + " (" + Escaped(n.operator_name) +
           ") authentication " + Escaped(n.authentication) + " fee " + Escaped(n.fee) + "\n";
  }
  const char* const format = "%-16s %-10s %-14s %-10s %-3s %9s %10s %9s %-4s %-4s %-3s %s\n";
  char line[512];
  std::snprintf(line, sizeof line, format, "MOUNTPOINT", "FORMAT", "SYSTEMS", "NETWORK", "CTY",
                "LAT", "LON", "DIST_KM", "GGA", "AUTH", "FEE", "MESSAGES");
  out += line;
  for (const auto& [s, km] : Ranked(table, from)) {
    // The messages field may be long: it goes after the formatted columns, whole.
    std::snprintf(line, sizeof line, format, Escaped(s.mountpoint).c_str(),
                  Escaped(s.format).c_str(), Escaped(s.nav_systems).c_str(),
                  Escaped(s.network).c_str(), Escaped(s.country).c_str(),
                  Degrees(s.latitude, s.located).c_str(), Degrees(s.longitude, s.located).c_str(),
                  km < 0 ? "-" : Km(km).c_str(), s.nmea ? "yes" : "no",
                  Escaped(s.authentication).c_str(), Escaped(s.fee).c_str(), "");
    std::string row(line);
    if (!row.empty() && row.back() == '\n') row.pop_back();
    out += row + Escaped(s.format_details) + "\n";
  }
  out += Counted(table.streams.size(), "stream") + ", " +
         Counted(table.malformed_rows, "malformed row") + " skipped" +
         (table.complete ? "" : "; no ENDSOURCETABLE line: the table may be incomplete") + "\n";
  return out;
}

std::string SourcetableJsonLines(const tarno::Sourcetable& table,
                                 const std::optional<Position>& from) {
  std::string out;
  for (const auto& c : table.casters) {
    out += Line(nlohmann::json{{"type", "caster"},
                               {"host", c.host},
                               {"port", c.port},
                               {"identifier", c.identifier},
                               {"operator", c.operator_name},
                               {"nmea", c.nmea},
                               {"country", c.country},
                               {"latitude", Coordinate(c.latitude, c.located)},
                               {"longitude", Coordinate(c.longitude, c.located)},
                               {"fallback_host", c.fallback_host},
                               {"fallback_port", c.fallback_port},
                               {"misc", c.misc}});
  }
  for (const auto& n : table.networks) {
    out += Line(nlohmann::json{{"type", "network"},
                               {"identifier", n.identifier},
                               {"operator", n.operator_name},
                               {"authentication", n.authentication},
                               {"fee", n.fee},
                               {"web_network", n.web_network},
                               {"web_stream", n.web_stream},
                               {"web_registration", n.web_registration},
                               {"misc", n.misc}});
  }
  for (const auto& [s, km] : Ranked(table, from)) {
    nlohmann::json row{{"type", "stream"},
                       {"mountpoint", s.mountpoint},
                       {"identifier", s.identifier},
                       {"format", s.format},
                       {"format_details", s.format_details},
                       {"carrier", s.carrier},
                       {"nav_systems", s.nav_systems},
                       {"network", s.network},
                       {"country", s.country},
                       {"latitude", Coordinate(s.latitude, s.located)},
                       {"longitude", Coordinate(s.longitude, s.located)},
                       {"distance_km", nullptr},
                       {"nmea", s.nmea},
                       {"network_solution", s.network_solution},
                       {"generator", s.generator},
                       {"compression", s.compression},
                       {"authentication", s.authentication},
                       {"fee", s.fee},
                       {"bitrate", s.bitrate},
                       {"misc", s.misc}};
    if (km >= 0) row["distance_km"] = km;
    out += Line(row);
  }
  out += Line({{"type", "summary"},
               {"streams", table.streams.size()},
               {"malformed_rows", table.malformed_rows},
               {"complete", table.complete}});
  return out;
}

NearestMount ChooseNearestMount(const tarno::Sourcetable& table, const Position& from) {
  NearestMount result;
  const auto ranked = tarno::SortByDistance(table.streams, from.latitude, from.longitude);
  for (const auto& candidate : ranked) {
    const std::string where =
        candidate.distance_km < 0 ? "distance unknown" : Km(candidate.distance_km) + " km";
    const std::string name = Escaped(candidate.stream.mountpoint) + " (" + where + "): ";
    if (!tarno::IsRtcm3Format(candidate.stream.format)) {
      result.skipped.push_back(name + "format \"" + Escaped(candidate.stream.format) +
                               "\" is not RTCM 3");
    } else if (const std::string refused = tarno::CheckMountpoint(candidate.stream.mountpoint);
               !refused.empty()) {
      result.skipped.push_back(name + refused);
    } else if (!result.chosen) {
      result.chosen = candidate;
      if (candidate.distance_km < 0) {
        result.why = "no RTCM 3 stream of the sourcetable gives its position: the first one of "
                     "the table is taken";
      }
    }
    if (result.chosen) break;
  }
  return result;
}

}  // namespace ntrip_host
