#include "sourcetable_view.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace maps_host {

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

}  // namespace

std::string SourcetableText(const tarno::Sourcetable& table, const std::optional<Position>& from) {
  std::string out;
  for (const auto& c : table.casters) {
    out += "caster " + c.host + ":" + std::to_string(c.port) + " " + c.identifier + " (" +
           c.operator_name + ", " + c.country + ")\n";
  }
  for (const auto& n : table.networks) {
    out += "network " + n.identifier + " (" + n.operator_name + ") authentication " +
           n.authentication + " fee " + n.fee + "\n";
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-16s %-10s %-14s %-10s %-3s %9s %10s %9s %-4s %-4s %-3s %s\n",
                "MOUNTPOINT", "FORMAT", "SYSTEMS", "NETWORK", "CTY", "LAT", "LON", "DIST_KM", "GGA",
                "AUTH", "FEE", "MESSAGES");
  out += line;
  for (const auto& [s, km] : Ranked(table, from)) {
    std::snprintf(
        line, sizeof line, "%-16s %-10s %-14s %-10s %-3s %9.4f %10.4f %9s %-4s %-4s %-3s %s\n",
        s.mountpoint.c_str(), s.format.c_str(), s.nav_systems.c_str(), s.network.c_str(),
        s.country.c_str(), s.latitude, s.longitude, km < 0 ? "-" : Km(km).c_str(),
        s.nmea ? "yes" : "no", s.authentication.c_str(), s.fee.c_str(), s.format_details.c_str());
    out += line;
  }
  out += std::to_string(table.streams.size()) + " streams, " +
         std::to_string(table.malformed_rows) + " malformed rows skipped" +
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
                               {"latitude", c.latitude},
                               {"longitude", c.longitude},
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
                       {"latitude", s.latitude},
                       {"longitude", s.longitude},
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
  for (auto& ranked : tarno::SortByDistance(table.streams, from.latitude, from.longitude)) {
    if (tarno::IsRtcm3Format(ranked.stream.format)) {
      result.chosen = std::move(ranked);
      break;
    }
    result.skipped.push_back(ranked.stream.mountpoint + " (" + Km(ranked.distance_km) +
                             " km): format \"" + ranked.stream.format + "\" is not RTCM 3");
  }
  return result;
}

}  // namespace maps_host
