#pragma once
// Spacing of connection set-ups after consecutive failures: 1, 2, 4 ... seconds, at most 60.
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace tarno {

class ReconnectSpacing {
 public:
  using Clock = std::chrono::steady_clock;

  // True when a set-up may be attempted at `now`.
  bool MayAttempt(Clock::time_point now) const { return _failures == 0 || now >= _next_attempt; }
  // Seconds left before the next attempt (0 when one may be made now).
  double SecondsLeft(Clock::time_point now) const {
    return MayAttempt(now) ? 0.0 : std::chrono::duration<double>(_next_attempt - now).count();
  }
  void RecordFailure(Clock::time_point now) {
    ++_failures;
    _next_attempt = now + Delay();
  }
  // A connection that delivered data proves the set-up good.
  void RecordSuccess() { _failures = 0; }
  std::uint32_t Failures() const { return _failures; }
  // Pause that follows the latest failure.
  std::chrono::seconds Delay() const {
    if (_failures == 0) return std::chrono::seconds(0);
    const std::uint32_t shift = std::min<std::uint32_t>(_failures - 1, 6);
    return std::chrono::seconds(std::min<std::int64_t>(std::int64_t{1} << shift, 60));
  }

 private:
  std::uint32_t _failures = 0;
  Clock::time_point _next_attempt{};
};

}  // namespace tarno
