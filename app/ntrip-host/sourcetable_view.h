#pragma once
// ntrip-host's view of a caster's sourcetable: the rows printed for a person or as JSON Lines,
// and the choice of the nearest RTCM 3 stream for --nearest-mount.
#include <optional>
#include <string>
#include <vector>

#include "sourcetable.h"

namespace ntrip_host {

struct Position {
  double latitude = 0, longitude = 0;
};

// One row per stream (nearest first when a position is given), CAS and NET rows in a short
// header, and a closing line with the counts. The caster's texts are shown with control
// characters escaped as JSON escapes them: a hostile table cannot drive the terminal.
std::string SourcetableText(const tarno::Sourcetable& table, const std::optional<Position>& from);
// The same as JSON Lines: casters, networks, streams, then a summary object.
std::string SourcetableJsonLines(const tarno::Sourcetable& table,
                                 const std::optional<Position>& from);

struct NearestMount {
  std::optional<tarno::RankedStream> chosen;  // empty: no usable RTCM 3 stream in the table
  std::vector<std::string> skipped;           // why each nearer stream was not taken
  std::string why;  // when the chosen stream's distance is unknown: why it was taken all the same
};
// The nearest RTCM 3 stream with a position; when none has one, the first RTCM 3 stream of the
// table. A mount point name the component would refuse is never chosen.
NearestMount ChooseNearestMount(const tarno::Sourcetable& table, const Position& from);

}  // namespace ntrip_host
