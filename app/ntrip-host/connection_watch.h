#pragma once
// The link as the component's reports tell it: the program knows nothing of the component's
// insides; it reads the link events (link_events.h) and nothing else.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine_names.h"
#include "link_events.h"

namespace ntrip_host {

class ConnectionWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // `on_connected`: called on every new connection, after the watch has taken it in.
  explicit ConnectionWatch(std::function<void()> on_connected = {})
      : on_connected_(std::move(on_connected)) {}

  void OnReport(const Report& report, Clock::time_point now);
  // Another source's instance starts: its set-backs count afresh.
  void NewSource();

  struct Snapshot {
    bool connected = false;
    // "connecting", "connected to H:P/M" (": NOT-RTCM EVENT" when its stream drew one),
    // "retrying in N s: CAUSE"
    std::string state;
    std::uint64_t reconnects = 0;
    std::optional<double> last_gap_seconds;  // from a loss to the next connection
    double connected_seconds = 0;
    // Losses and failed set-ups since the last connection (or the source's start), and the
    // cause of the latest.
    std::uint32_t setbacks = 0;
    std::string setback_cause;
  };
  Snapshot Take(Clock::time_point now) const;

 private:
  void Follow(const tarno::LinkEvent& event, Clock::time_point now);  // with mutex_ held

  const std::function<void()> on_connected_;
  mutable std::mutex mutex_;
  bool connecting_ = false, connected_ = false;
  std::string target_, cause_;
  std::string concern_;  // the NotRtcm event of the current connection
  std::uint64_t connections_ = 0;
  std::uint32_t setbacks_ = 0;
  std::optional<Clock::time_point> retry_at_;  // the next set-up, as the component announced it
  std::optional<Clock::time_point> lost_at_, connected_at_;
  std::optional<double> last_gap_;
  Clock::duration connected_total_{};
};

}  // namespace ntrip_host
