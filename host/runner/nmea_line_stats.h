// Parses NMEA lines and counts the outcome; shared by the NMEA sources.
#pragma once

#include "runner/position_source.h"

namespace runner {

// Returns nullopt for an empty line (not counted); otherwise the parse, counted by outcome.
std::optional<NmeaParse> ParseAndCount(std::string_view line, bool too_long,
                                       PositionCounters& counters);

}  // namespace runner
