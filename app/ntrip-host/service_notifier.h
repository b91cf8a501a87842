#pragma once
// Tells a service manager how the run goes (systemd's notification protocol): ready once the
// component has started, the link as status, watchdog pings while the program makes progress,
// stopping at the end. Without NOTIFY_SOCKET in the environment it does nothing.
#include <chrono>
#include <optional>
#include <string>

namespace ntrip_host {

class ServiceNotifier {
 public:
  using Clock = std::chrono::steady_clock;

  // A component thread silent for longer than this counts as hung. Above the longest step of a
  // connection set-up (name resolution, connect and answer head are bounded by 10 s each).
  static constexpr std::chrono::seconds kHangLimit{45};

  ServiceNotifier();

  void Ready(const std::string& status);
  // Once a second from the main loop. `silence`: how long the component's laggard thread has
  // been quiet. The watchdog is pinged at half its period, and only while nothing hangs: a hang
  // stops the pings and the service manager restarts the service.
  void Tick(Clock::time_point now, const std::string& status,
            std::optional<Clock::duration> silence);
  void Stopping();

 private:
  void Send(const std::string& message) const;

  const bool enabled_;
  std::optional<Clock::duration> ping_period_;
  Clock::time_point next_ping_{};
};

}  // namespace ntrip_host
