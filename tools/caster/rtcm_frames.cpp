#include "rtcm_frames.h"

namespace caster {

namespace {

constexpr unsigned char kPreamble = 0xD3;
constexpr std::size_t kHeaderSize = 3;
constexpr std::size_t kCrcSize = 3;

// Size of a valid frame starting at `pos`, or 0.
std::size_t FrameSizeAt(std::string_view bytes, std::size_t pos) {
  if (pos + kHeaderSize > bytes.size()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  if (b(0) != kPreamble) return 0;
  const std::size_t length = (static_cast<std::size_t>(b(1) & 0x03U) << 8) | b(2);
  const std::size_t total = kHeaderSize + length + kCrcSize;
  if (pos + total > bytes.size()) return 0;
  const std::uint32_t expected = (static_cast<std::uint32_t>(b(kHeaderSize + length)) << 16) |
                                 (static_cast<std::uint32_t>(b(kHeaderSize + length + 1)) << 8) |
                                 b(kHeaderSize + length + 2);
  return Crc24q(bytes.substr(pos, kHeaderSize + length)) == expected ? total : 0;
}

}  // namespace

std::uint32_t Crc24q(std::string_view bytes) {
  std::uint32_t crc = 0;
  for (const char c : bytes) {
    crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000U) crc ^= 0x1864CFBU;
    }
  }
  return crc & 0xFFFFFFU;
}

std::vector<std::size_t> FrameUnitEnds(std::string_view bytes) {
  std::vector<std::size_t> ends;
  bool in_junk = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t frame = FrameSizeAt(bytes, pos);
    if (frame == 0) {
      in_junk = true;
      ++pos;
      continue;
    }
    if (in_junk) ends.push_back(pos);
    in_junk = false;
    pos += frame;
    ends.push_back(pos);
  }
  if (in_junk) ends.push_back(bytes.size());
  return ends;
}

}  // namespace caster
