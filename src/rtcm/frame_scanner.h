#pragma once
// RTCM 3 framing for readers of a byte stream that only need to know where the frames are (the
// caster's pacing, its live-time rewriter, the program's status, the client's stream check).
// The decoder's own byte reader keeps its state record, but shares the CRC and these limits.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace rtcm {

constexpr uint8_t kFramePreamble = 0xD3;
constexpr std::size_t kFrameHeaderBytes = 3;  // preamble, 6 reserved bits, 10-bit length
constexpr std::size_t kFrameCrcBytes = 3;

struct FrameProbe {
  enum class Kind { NotAFrame, Incomplete, Frame };
  Kind kind = Kind::NotAFrame;
  std::size_t size = 0;  // the whole frame's size when kind is Frame
};

// What starts at bytes[0]: a frame with a right CRC, the start of one whose end is not there
// yet, or neither (no preamble, or a wrong CRC).
FrameProbe probe_frame(std::span<const uint8_t> bytes);

// The 12-bit message number of a whole frame (at least 5 bytes).
int frame_message_type(std::span<const uint8_t> frame);

// Finds the frames with a right CRC in a stream cut anywhere: a frame may straddle feeds. After
// a false preamble the search goes on at the next byte, so no right frame behind it is lost.
class FrameScanner {
 public:
  using OnFrame = std::function<void(std::span<const uint8_t> frame)>;
  void Feed(std::span<const uint8_t> bytes, const OnFrame& on_frame);

 private:
  std::vector<uint8_t> pending_;
};

}  // namespace rtcm
