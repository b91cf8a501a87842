#pragma once
// A caster's sourcetable: its STR (stream), CAS (caster) and NET (network) rows. Pure code over
// the body text; a row that cannot be read is skipped and counted, never fatal.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarno {

struct SourcetableStream {
  std::string mountpoint;
  std::string identifier;
  std::string format;          // "RTCM 3", "RTCM 3.2", "RTCM 2.3", "CMR+", "RAW" ...
  std::string format_details;  // messages and their rates, e.g. "1004(1),1005(10)"
  int carrier = 0;             // 0 none, 1 L1, 2 L1 and L2
  std::string nav_systems;     // e.g. "GPS+GLO+GAL"
  std::string network;
  std::string country;   // ISO 3166 code
  double latitude = 0;   // degrees north
  double longitude = 0;  // degrees east, -180 to 180 (tables that count 0 to 360 are folded)
  // False when the row leaves latitude or longitude empty or gives no position on the globe
  // (small casters often do): the stream is still served; latitude and longitude are then 0.
  bool located = true;
  bool nmea = false;     // the caster needs GGA sentences from the client
  bool network_solution = false;  // solution field: 0 single base, 1 network
  std::string generator;
  std::string compression;
  std::string authentication;  // "N" none, "B" basic, "D" digest
  std::string fee;             // "N" or "Y"
  int bitrate = 0;             // bits per second
  std::string misc;            // the rest of the row, separators kept
};

struct SourcetableCaster {
  std::string host;
  int port = 0;
  std::string identifier;
  std::string operator_name;
  bool nmea = false;
  std::string country;
  double latitude = 0;
  double longitude = 0;
  bool located = true;  // as for a stream
  std::string fallback_host;
  int fallback_port = 0;
  std::string misc;
};

struct SourcetableNetwork {
  std::string identifier;
  std::string operator_name;
  std::string authentication;
  std::string fee;
  std::string web_network;
  std::string web_stream;
  std::string web_registration;
  std::string misc;
};

struct Sourcetable {
  std::vector<SourcetableStream> streams;
  std::vector<SourcetableCaster> casters;
  std::vector<SourcetableNetwork> networks;
  std::size_t malformed_rows = 0;  // rows skipped: unknown kind, too few fields, bad numbers
  bool complete = false;           // the ENDSOURCETABLE line was seen (rows after it are ignored)
};

Sourcetable ParseSourcetable(std::string_view body);

// Great-circle distance in kilometres over a sphere of the Earth's mean radius.
double DistanceKm(double latitude1, double longitude1, double latitude2, double longitude2);

struct RankedStream {
  SourcetableStream stream;
  double distance_km = -1;  // negative: unknown (the stream gives no position)
};

// The streams nearest first from the given position (ties keep the table's order), then those
// without a position in the table's order.
std::vector<RankedStream> SortByDistance(const std::vector<SourcetableStream>& streams,
                                         double latitude, double longitude);

// True for the RTCM 3 family ("RTCM 3", "RTCM3", "RTCM 3.2" ...), the only data the decoder reads.
bool IsRtcm3Format(std::string_view format);

}  // namespace tarno
