#pragma once
// Tells a service manager how the run goes (systemd's notification protocol): ready once the
// component has started, the link as status, watchdog pings while the program makes progress,
// stopping at the end. Without NOTIFY_SOCKET in the environment it does nothing.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace ntrip_host {

class ServiceNotifier {
 public:
  using Clock = std::chrono::steady_clock;

  // A thread silent for longer than this counts as hung. Above the longest step of a connection
  // set-up (name resolution, connect and answer head are bounded by 10 s each).
  static constexpr std::chrono::seconds kHangLimit{45};

  // The component's thread that has passed no checkpoint for the longest time.
  struct Laggard {
    Clock::duration silence{};
    std::string thread;  // its name for the system ("ntrip-raw-wr")
  };

  // `say`: writes the one error line that names a hung thread (from the watchdog's thread).
  explicit ServiceNotifier(std::function<void(const std::string&)> say,
                           Clock::duration hang_limit = kHangLimit);
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // Starts the watchdog's pings, at half the period the service manager asked for. Again after
  // a reload: ready once more.
  void Ready(const std::string& status);
  // A reload begins; Ready says when it is over.
  void Reloading();
  // Once a second from the main loop, which this proves alive.
  void Tick(Clock::time_point now, const std::string& status, std::optional<Laggard> laggard);
  void Stopping();

 private:
  void Send(const std::string& message) const;
  void Ping(std::stop_token stop);
  // The role of the thread that hangs at `now`, if one does.
  std::optional<std::string> Hung(Clock::time_point now) const;  // with mutex_ held

  const bool enabled_;
  const std::function<void(const std::string&)> say_;
  const Clock::duration hang_limit_;
  std::optional<Clock::duration> ping_period_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  Clock::time_point main_seen_{};
  std::optional<Laggard> laggard_;
  Clock::time_point laggard_seen_{};
  bool hang_said_ = false;
  std::jthread pinger_;  // last: it uses everything above
};

}  // namespace ntrip_host
