#pragma once
// What the runner's outputs have carried so far, and the one-line status made of it. The output
// consumers feed it from their threads; the main thread reads it once a second.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rtcm {
class ChunkSummarizer;
}

namespace maps_host {

// What the decoder makes of the raw stream: the latest completed epoch, its age, the station
// and the satellites each system carries in it (counted from the frames, every system).
class EpochWatch {
 public:
  EpochWatch();
  ~EpochWatch();
  void Feed(std::string_view bytes);
  // "age 0.4 s | station 2003 | sats GPS:10 GLO:8"; "age -" before the first epoch.
  std::string Text() const;
  // "epochs 12, age p50 0.3 s max 0.9 s".
  std::string Summary() const;

 private:
  void OnFrame();
  std::unique_ptr<rtcm::ChunkSummarizer> decoder_;
  std::uint64_t epochs_ = 0;
  bool have_epoch_ = false;
  std::int64_t epoch_time_ = 0;  // GPS seconds and fraction of the latest completed epoch
  double epoch_fraction_ = 0;
  std::vector<double> ages_;     // age of each epoch when it completed
  int station_ = -1;
  std::int64_t counting_time_ = 0;  // the epoch whose satellites `counting_` holds
  double counting_fraction_ = -1;
  std::map<std::string, int> counting_, latest_sats_;
};

// Counts the RTCM 3 message types of a byte stream cut anywhere: a frame may straddle elements.
// Only frames with a right CRC count.
class FrameTypeCounter {
 public:
  void Feed(std::string_view bytes);
  const std::map<int, std::uint64_t>& Counts() const { return counts_; }

 private:
  std::vector<std::uint8_t> pending_;
  std::map<int, std::uint64_t> counts_;
};

class RunStatus {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RunStatus(Clock::time_point start) : start_(start), last_line_(start) {}

  void OnRaw(std::string_view bytes, Clock::time_point now);
  void OnDecoded(std::string_view bytes);

  // Waits until the raw output has carried at least `bytes`, or until `deadline`.
  bool WaitForRawBytes(std::uint64_t bytes, Clock::time_point deadline);

  // "12 s | raw 2048 B in 2 elements, 1.0 kB/s | decoded 2 elements | types 1004:3 1005:1 |
  // last correction 0.4 s ago"; the rate is over the time since the previous line.
  std::string Line(Clock::time_point now);
  // Totals for the end of a run: "raw 2048 B in 2 elements, decoded 2 elements, types ...".
  std::string Summary() const;

 private:
  std::string TypesText() const;  // with mutex_ held

  const Clock::time_point start_;
  mutable std::mutex mutex_;
  std::condition_variable raw_arrived_;
  std::uint64_t raw_bytes_ = 0;
  std::uint64_t raw_elements_ = 0;
  std::uint64_t decoded_bytes_ = 0;
  std::uint64_t decoded_elements_ = 0;
  FrameTypeCounter types_;
  EpochWatch epochs_;
  std::optional<Clock::time_point> last_raw_;
  Clock::time_point last_line_;
  std::uint64_t raw_bytes_at_last_line_ = 0;
};

}  // namespace maps_host
