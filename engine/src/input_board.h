#pragma once
// The latest sample of every input of one instance, and the wake-ups of the readers waiting on
// them: a new sample, or the stop.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace maps_host {

struct InputSample {
  std::vector<double> values;
  std::int64_t timestamp = 0;  // microseconds on the engine clock
};

class InputBoard {
 public:
  using Snapshot = std::vector<std::shared_ptr<const InputSample>>;  // null: no sample yet

  explicit InputBoard(std::size_t input_count);

  void Push(std::size_t input, std::vector<double> values, std::int64_t timestamp);
  void RequestStop();
  bool StopRequested() const;

  // Each returns false when the stop came first.
  bool WaitForSamples(const std::vector<std::size_t>& inputs);
  bool WaitUntil(std::chrono::steady_clock::time_point instant);

  Snapshot Take(const std::vector<std::size_t>& inputs) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_cv_;
  std::vector<std::shared_ptr<const InputSample>> latest_;
  bool stop_requested_ = false;
};

}  // namespace maps_host
