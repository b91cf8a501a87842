#include "status.h"

#include <cstdio>

#include "rtcm/frame.h"

namespace maps_host {

namespace {

constexpr std::uint8_t kPreamble = 0xD3;
constexpr std::size_t kHeaderBytes = 3;
constexpr std::size_t kCrcBytes = 3;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

void FrameTypeCounter::Feed(std::string_view bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::size_t at = 0;
  while (true) {
    while (at < pending_.size() && pending_[at] != kPreamble) ++at;
    if (pending_.size() - at < kHeaderBytes) break;
    const std::uint8_t* frame = pending_.data() + at;
    const std::size_t length = rtcm::bits_unsigned(frame, 14, 10);
    const std::size_t total = kHeaderBytes + length + kCrcBytes;
    if (pending_.size() - at < total) break;
    const int covered = static_cast<int>(kHeaderBytes + length);
    if (length >= 2 &&
        rtcm::frame_crc24(frame, covered) == rtcm::bits_unsigned(frame, covered * 8, 24)) {
      ++counts_[static_cast<int>(rtcm::bits_unsigned(frame, 24, 12))];
      at += total;
    } else {
      ++at;  // a preamble value inside other bytes: look again one byte on
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

void RunStatus::OnRaw(std::string_view bytes, Clock::time_point now) {
  {
    std::scoped_lock lock(mutex_);
    raw_bytes_ += bytes.size();
    ++raw_elements_;
    types_.Feed(bytes);
    last_raw_ = now;
  }
  raw_arrived_.notify_all();
}

bool RunStatus::WaitForRawBytes(std::uint64_t bytes, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return raw_arrived_.wait_until(lock, deadline, [&] { return raw_bytes_ >= bytes; });
}

void RunStatus::OnDecoded(std::string_view bytes) {
  std::scoped_lock lock(mutex_);
  decoded_bytes_ += bytes.size();
  ++decoded_elements_;
}

std::string RunStatus::TypesText() const {
  if (types_.Counts().empty()) return "none";
  std::string text;
  for (const auto& [type, count] : types_.Counts()) {
    if (!text.empty()) text += ' ';
    text += std::to_string(type) + ':' + std::to_string(count);
  }
  return text;
}

std::string RunStatus::Line(Clock::time_point now) {
  std::scoped_lock lock(mutex_);
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double interval = std::chrono::duration<double>(now - last_line_).count();
  const double rate =
      interval > 0 ? static_cast<double>(raw_bytes_ - raw_bytes_at_last_line_) / interval : 0.0;
  last_line_ = now;
  raw_bytes_at_last_line_ = raw_bytes_;

  std::string line = Fixed(elapsed, 0) + " s | raw " + std::to_string(raw_bytes_) + " B in " +
                     std::to_string(raw_elements_) + " elements, " + Fixed(rate / 1000.0, 1) +
                     " kB/s | decoded " + std::to_string(decoded_elements_) + " elements | types " +
                     TypesText() + " | last correction ";
  if (last_raw_) {
    line += Fixed(std::chrono::duration<double>(now - *last_raw_).count(), 1) + " s ago";
  } else {
    line += "none yet";
  }
  return line;
}

std::string RunStatus::Summary() const {
  std::scoped_lock lock(mutex_);
  return "raw " + std::to_string(raw_bytes_) + " B in " + std::to_string(raw_elements_) +
         " elements, decoded " + std::to_string(decoded_bytes_) + " B in " +
         std::to_string(decoded_elements_) + " elements, message types " + TypesText();
}

}  // namespace maps_host
