#pragma once
// The link as the component's reports tell it: the runner knows nothing of the component's
// insides, it reads "Connecting to", "connected to ...", "connection lost: ..." and the warnings.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "reports.h"

namespace maps_host {

class ConnectionWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // time_scale: the host's sampling scale, which also scales the component's retry spacing.
  explicit ConnectionWatch(double time_scale) : time_scale_(time_scale) {}

  void OnReport(const Report& report, Clock::time_point now);

  struct Snapshot {
    // "connecting", "connected to H:P/M" (": WARNING" when its stream drew one),
    // "retrying in N s: CAUSE"
    std::string state;
    std::uint64_t reconnects = 0;
    std::optional<double> last_gap_seconds;  // from a loss to the next connection
    double connected_seconds = 0;
  };
  Snapshot Take(Clock::time_point now) const;

 private:
  const double time_scale_;
  mutable std::mutex mutex_;
  bool connecting_ = false, connected_ = false;
  std::string target_, cause_;
  std::string concern_;  // a warning about the stream of the current connection
  std::uint64_t connections_ = 0;
  std::uint64_t attempts_ = 0;  // set-ups begun, warnings before the first are not causes
  std::uint32_t failures_ = 0;  // set-ups since the last connection that delivered
  Clock::time_point failed_at_{};
  std::optional<Clock::time_point> lost_at_, connected_at_;
  std::optional<double> last_gap_;
  Clock::duration connected_total_{};
};

}  // namespace maps_host
