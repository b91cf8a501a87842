// Waits for a condition nothing signals to a test (counters, caster records, engine state) by
// polling it; the deadline bounds a hang and says nothing of speed.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

inline bool Eventually(const std::function<bool()>& pred,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
