#include "status.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm/summary.h"

namespace maps_host {

namespace {

constexpr std::uint8_t kPreamble = 0xD3;
constexpr std::size_t kHeaderBytes = 3;
constexpr std::size_t kCrcBytes = 3;
constexpr double kSameEpoch = 0.01;  // seconds

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

EpochWatch::EpochWatch() : decoder_(std::make_unique<rtcm::ChunkSummarizer>()) {}
EpochWatch::~EpochWatch() = default;

void EpochWatch::Feed(std::string_view bytes) {
  rtcm::RtcmDecoder& dec = decoder_->decoder();
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t left = bytes.size(); left > 0;) {
    std::size_t used = 0;
    const int result = rtcm::input_rtcm3_block(&dec, data, left, &used);
    data += used;
    left -= used;
    if (!dec.frame_decoded) continue;
    OnFrame();
    const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
    if (result == 5 && (type == 1005 || type == 1006)) {
      station_ = static_cast<int>(rtcm::bits_unsigned(dec.frame, 36, 12));
    }
    if (result != 1) continue;
    ++epochs_;
    have_epoch_ = true;
    epoch_time_ = dec.time.time;
    epoch_fraction_ = dec.time.sec;
    ages_.push_back(rtcm::time_diff(rtcm::current_gps_time(), dec.time));
    latest_sats_ = counting_;
  }
}

void EpochWatch::OnFrame() {
  const rtcm::RtcmDecoder& dec = decoder_->decoder();
  const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
  static const char* const kMsmSystems[] = {"GPS", "GLO", "GAL", "SBAS", "QZSS", "BDS"};
  const char* system = nullptr;
  int satellites = 0;
  if (type >= 1001 && type <= 1004) {
    system = "GPS";
    satellites = static_cast<int>(rtcm::bits_unsigned(dec.frame, 79, 5));
  } else if (type >= 1009 && type <= 1012) {
    system = "GLO";
    satellites = static_cast<int>(rtcm::bits_unsigned(dec.frame, 76, 5));
  } else if (type >= 1071 && type <= 1127 && type % 10 >= 1 && type % 10 <= 7 && dec.len >= 24) {
    system = kMsmSystems[type / 10 - 107];
    const std::uint64_t mask = (std::uint64_t{rtcm::bits_unsigned(dec.frame, 97, 32)} << 32) |
                               rtcm::bits_unsigned(dec.frame, 129, 32);
    satellites = std::popcount(mask);
  }
  if (!system) return;
  // A message of another epoch starts a new count. The systems' scales resolve the same epoch to
  // times a rounding apart, hence the tolerance.
  const rtcm::GnssTime counting{counting_time_, counting_fraction_};
  if (std::abs(rtcm::time_diff(dec.time, counting)) > kSameEpoch) {
    counting_.clear();
    counting_time_ = dec.time.time;
    counting_fraction_ = dec.time.sec;
  }
  counting_[system] += satellites;
  const rtcm::GnssTime counted{counting_time_, counting_fraction_};
  // Messages of the latest epoch that come after the one completing it still count.
  if (have_epoch_ &&
      std::abs(rtcm::time_diff(counted, rtcm::GnssTime{epoch_time_, epoch_fraction_})) <= kSameEpoch) {
    latest_sats_ = counting_;
  }
}

std::string EpochWatch::Text() const {
  std::string text = "age ";
  if (!have_epoch_) {
    text += "-";
  } else {
    const double age =
        rtcm::time_diff(rtcm::current_gps_time(), rtcm::GnssTime{epoch_time_, epoch_fraction_});
    text += Fixed(age, 1) + " s";
  }
  text += " | station " + (station_ < 0 ? std::string("-") : std::to_string(station_)) + " | sats";
  if (latest_sats_.empty()) text += " -";
  for (const auto& [system, count] : latest_sats_) text += " " + system + ":" + std::to_string(count);
  return text;
}

std::string EpochWatch::Summary() const {
  std::string text = "epochs " + std::to_string(epochs_);
  if (ages_.empty()) return text;
  std::vector<double> sorted = ages_;
  std::sort(sorted.begin(), sorted.end());
  return text + ", age p50 " + Fixed(sorted[sorted.size() / 2], 1) + " s max " +
         Fixed(sorted.back(), 1) + " s";
}

void RunStatus::OnRaw(std::string_view bytes, Clock::time_point now) {
  {
    std::scoped_lock lock(mutex_);
    raw_bytes_ += bytes.size();
    ++raw_elements_;
    types_.Feed(bytes);
    epochs_.Feed(bytes);
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
  return line + " | " + epochs_.Text();
}

std::string RunStatus::Summary() const {
  std::scoped_lock lock(mutex_);
  return "raw " + std::to_string(raw_bytes_) + " B in " + std::to_string(raw_elements_) +
         " elements, decoded " + std::to_string(decoded_bytes_) + " B in " +
         std::to_string(decoded_elements_) + " elements, message types " + TypesText() + ", " +
         epochs_.Summary();
}

}  // namespace maps_host
