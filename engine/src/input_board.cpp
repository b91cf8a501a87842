#include "input_board.h"

#include <algorithm>

namespace maps_host {

InputBoard::InputBoard(std::size_t input_count) : latest_(input_count) {}

void InputBoard::Push(std::size_t input, std::vector<double> values, std::int64_t timestamp) {
  auto sample = std::make_shared<const InputSample>(InputSample{std::move(values), timestamp});
  {
    std::scoped_lock lock(mutex_);
    latest_.at(input) = std::move(sample);
  }
  changed_cv_.notify_all();
}

void InputBoard::RequestStop() {
  {
    std::scoped_lock lock(mutex_);
    stop_requested_ = true;
  }
  changed_cv_.notify_all();
}

bool InputBoard::StopRequested() const {
  std::scoped_lock lock(mutex_);
  return stop_requested_;
}

bool InputBoard::WaitForSamples(const std::vector<std::size_t>& inputs) {
  std::unique_lock lock(mutex_);
  changed_cv_.wait(lock, [&] {
    return stop_requested_ ||
           std::all_of(inputs.begin(), inputs.end(), [&](std::size_t i) { return latest_[i]; });
  });
  return !stop_requested_;
}

bool InputBoard::WaitUntil(std::chrono::steady_clock::time_point instant) {
  std::unique_lock lock(mutex_);
  changed_cv_.wait_until(lock, instant, [&] { return stop_requested_; });
  return !stop_requested_;
}

InputBoard::Snapshot InputBoard::Take(const std::vector<std::size_t>& inputs) const {
  std::scoped_lock lock(mutex_);
  Snapshot snapshot;
  for (std::size_t input : inputs) snapshot.push_back(latest_[input]);
  return snapshot;
}

}  // namespace maps_host
