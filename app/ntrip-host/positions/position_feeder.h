// Paces a position source: one Next() per period on a thread of its own, handing each sample to
// a callback. The first tick is immediate; ticks missed while the callback ran late are skipped,
// not caught up.
#pragma once

#include "positions/position_source.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace runner {

class PositionFeeder {
 public:
  using Callback = std::function<void(const PositionSample&)>;

  // `source` must outlive the feeder. The callback runs on the feeder's thread.
  PositionFeeder(PositionSource& source, Callback callback,
                 std::chrono::milliseconds period = std::chrono::seconds(1));
  ~PositionFeeder();  // Stop()

  PositionFeeder(const PositionFeeder&) = delete;
  PositionFeeder& operator=(const PositionFeeder&) = delete;

  // Ends the current wait at once and joins the thread (a running callback finishes first).
  void Stop();

 private:
  void Run(std::stop_token stop);

  PositionSource& source_;
  const Callback callback_;
  const std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread thread_;
};

}  // namespace runner
