// Whole-frame boundaries of an RTCM 3 recording, so the default pacing never splits a frame.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace caster {

// End offsets of the units the recording splits into, in order: each unit is either one RTCM 3
// frame with a right CRC or a run of other bytes up to the next such frame. The last end offset is
// bytes.size(); an empty recording has no units.
std::vector<std::size_t> FrameUnitEnds(std::string_view bytes);

}  // namespace caster
