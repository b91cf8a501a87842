#pragma once
// Spacing of connection set-ups after consecutive failures: 1, 2, 4 ... seconds, at most 60.
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace tarno {

class ReconnectSpacing {
 public:
  using Clock = std::chrono::steady_clock;
  // The longest pause between two set-ups.
  static constexpr std::chrono::seconds kLongest{60};

  // time_scale: the host's clock factor; 1 in production.
  explicit ReconnectSpacing(double time_scale = 1.0) : _time_scale(time_scale) {}

  // True when a set-up may be attempted at `now`.
  bool MayAttempt(Clock::time_point now) const { return _failures == 0 || now >= _next_attempt; }
  // Seconds left before the next attempt (0 when one may be made now).
  double SecondsLeft(Clock::time_point now) const {
    return MayAttempt(now) ? 0.0 : std::chrono::duration<double>(_next_attempt - now).count();
  }
  void RecordFailure(Clock::time_point now) {
    ++_failures;
    _next_attempt = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(Delay().count() * _time_scale));
  }
  // A connection that delivered data proves the set-up good.
  void RecordSuccess() { _failures = 0; }
  std::uint32_t Failures() const { return _failures; }
  // Pause that follows the latest failure.
  std::chrono::seconds Delay() const {
    if (_failures == 0) return std::chrono::seconds(0);
    const std::uint32_t shift = std::min<std::uint32_t>(_failures - 1, 6);
    return std::chrono::seconds(std::min<std::int64_t>(std::int64_t{1} << shift, kLongest.count()));
  }

 private:
  double _time_scale = 1.0;
  std::uint32_t _failures = 0;
  Clock::time_point _next_attempt{};
};

}  // namespace tarno
