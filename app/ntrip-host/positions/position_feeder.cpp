#include "positions/position_feeder.h"

namespace runner {

PositionFeeder::PositionFeeder(PositionSource& source, Callback callback,
                               std::chrono::milliseconds period)
    : source_(source), callback_(std::move(callback)), period_(period) {
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

PositionFeeder::~PositionFeeder() {
  Stop();
}

void PositionFeeder::Stop() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void PositionFeeder::Run(std::stop_token stop) {
  auto next = std::chrono::steady_clock::now();
  while (!stop.stop_requested()) {
    if (auto sample = source_.Next()) callback_(*sample);
    next += period_;
    const auto now = std::chrono::steady_clock::now();
    while (next <= now) next += period_;
    std::unique_lock lock(mutex_);
    // Only the stop request wakes this wait early.
    wake_.wait_until(lock, stop, next, [] { return false; });
  }
}

}  // namespace runner
