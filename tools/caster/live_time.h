// Serving a recording as if it were live: the epoch time of every observation message is moved
// to the present, each system in its own time scale, and the frame's CRC is recomputed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace caster {

// Milliseconds of GPS time since the GPS origin (1980-01-06), from the system clock.
std::int64_t GpsMillisecondsNow();

// Byte offset of the first observation frame among the units, or bytes.size() when none.
std::size_t FirstObservationOffset(const std::string& bytes, const std::vector<std::size_t>& unit_ends);

// Rewrites, in place, the epoch time of each observation frame (GPS and GLONASS legacy 1001 to
// 1004 and 1009 to 1012; MSM 1 to 7 of GPS, GLONASS, Galileo, SBAS, QZSS and BeiDou) so that the
// first one of each system carries `first_epoch_gps_ms` and the system's others keep their
// distance to it. Other bytes are left as they are.
void MoveEpochsTo(std::string& bytes, const std::vector<std::size_t>& unit_ends,
                  std::int64_t first_epoch_gps_ms);

}  // namespace caster
