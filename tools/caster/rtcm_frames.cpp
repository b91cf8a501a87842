#include "rtcm_frames.h"

#include <cstdint>
#include <span>

#include "rtcm/frame_scanner.h"

namespace caster {

std::vector<std::size_t> FrameUnitEnds(std::string_view bytes) {
  const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size());
  std::vector<std::size_t> ends;
  bool in_junk = false;
  std::size_t pos = 0;
  while (pos < all.size()) {
    const rtcm::FrameProbe probe = rtcm::probe_frame(all.subspan(pos));
    if (probe.kind != rtcm::FrameProbe::Kind::Frame) {
      in_junk = true;
      ++pos;
      continue;
    }
    if (in_junk) ends.push_back(pos);
    in_junk = false;
    pos += probe.size;
    ends.push_back(pos);
  }
  if (in_junk) ends.push_back(bytes.size());
  return ends;
}

}  // namespace caster
