#include "rtcm/frame_scanner.h"

#include <algorithm>

#include "rtcm/frame.h"

namespace rtcm {

FrameProbe probe_frame(std::span<const uint8_t> bytes) {
  if (bytes.empty() || bytes[0] != kFramePreamble) return {};
  if (bytes.size() < kFrameHeaderBytes) return {FrameProbe::Kind::Incomplete, 0};
  const std::size_t length = bits_unsigned(bytes.data(), 14, 10);
  const std::size_t total = kFrameHeaderBytes + length + kFrameCrcBytes;
  if (bytes.size() < total) return {FrameProbe::Kind::Incomplete, 0};
  const int covered = static_cast<int>(kFrameHeaderBytes + length);
  if (frame_crc24(bytes.data(), covered) != bits_unsigned(bytes.data(), covered * 8, 24)) return {};
  return {FrameProbe::Kind::Frame, total};
}

int frame_message_type(std::span<const uint8_t> frame) {
  if (frame.size() < kFrameHeaderBytes + 2) return 0;
  return static_cast<int>(bits_unsigned(frame.data(), 24, 12));
}

void FrameScanner::Feed(std::span<const uint8_t> bytes, const OnFrame& on_frame) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::size_t at = 0;
  while (true) {
    at = static_cast<std::size_t>(
        std::find(pending_.begin() + static_cast<std::ptrdiff_t>(at), pending_.end(),
                  kFramePreamble) -
        pending_.begin());
    if (at == pending_.size()) break;
    const std::span<const uint8_t> rest(pending_.data() + at, pending_.size() - at);
    const FrameProbe probe = probe_frame(rest);
    if (probe.kind == FrameProbe::Kind::Incomplete) break;
    if (probe.kind == FrameProbe::Kind::Frame) {
      on_frame(rest.first(probe.size));
      at += probe.size;
    } else {
      ++at;  // a preamble value inside other bytes: look again one byte on
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace rtcm
