#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform.h"

namespace ntrip_host {

namespace {

// What the user reads for a thread the watchdog found silent: its role, by the name it carries.
std::string Role(std::string_view thread) {
  struct Known {
    std::string_view name, role;
  };
  static constexpr Known kKnown[] = {
      {"ntrip-comp", "component"},         {"ntrip-raw-wr", "raw writer"},
      {"ntrip-dec-wr", "decoded writer"},  {"ntrip-recv", "receive loop"},
      {"ntrip-gga", "GGA loop"},           {"ntrip-stop-wch", "stop watch"},
  };
  for (const Known& known : kKnown) {
    if (known.name == thread) return std::string(known.role);
  }
  return thread.empty() ? "a component thread" : "thread " + std::string(thread);
}

}  // namespace

ServiceNotifier::ServiceNotifier(std::function<void(const std::string&)> say,
                                 Clock::duration hang_limit)
    : enabled_(std::getenv("NOTIFY_SOCKET") != nullptr),
      say_(std::move(say)),
      hang_limit_(hang_limit) {
  std::uint64_t microseconds = 0;
  if (enabled_ && sd_watchdog_enabled(0, &microseconds) > 0 && microseconds > 0) {
    ping_period_ = std::chrono::microseconds(microseconds / 2);
  }
}

ServiceNotifier::~ServiceNotifier() {
  pinger_.request_stop();
  if (pinger_.joinable()) pinger_.join();
}

void ServiceNotifier::Ready(const std::string& status) {
  if (!enabled_) return;
  Send("READY=1\nSTATUS=" + status);
  if (!ping_period_ || pinger_.joinable()) return;
  {
    std::scoped_lock lock(mutex_);
    main_seen_ = Clock::now();
  }
  // A timer of its own: the main loop's second-long steps (a switch of source) would stretch
  // the gaps beyond the period.
  pinger_ = std::jthread([this](std::stop_token stop) { Ping(std::move(stop)); });
}

void ServiceNotifier::Tick(Clock::time_point now, const std::string& status,
                           std::optional<Laggard> laggard) {
  if (!enabled_) return;
  {
    std::scoped_lock lock(mutex_);
    main_seen_ = now;
    laggard_ = std::move(laggard);
    laggard_seen_ = now;
    // A thread that hangs keeps STATUS= on it until the service manager restarts the service.
    if (hang_said_) return;
  }
  Send("STATUS=" + status);
}

void ServiceNotifier::Reloading() {
  if (!enabled_) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long microseconds = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  Send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(microseconds) + "\nSTATUS=reloading");
}

void ServiceNotifier::Stopping() {
  if (!enabled_) return;
  // The shutdown is bounded by its own deadline: the watchdog has nothing more to watch.
  pinger_.request_stop();
  if (pinger_.joinable()) pinger_.join();
  Send("STOPPING=1\nSTATUS=stopping");
}

void ServiceNotifier::Ping(std::stop_token stop) {
  tarno::NameThisThread("ntrip-watchdog");
  Send("WATCHDOG=1");
  std::unique_lock lock(mutex_);
  Clock::time_point next = Clock::now() + *ping_period_;
  while (!wake_.wait_until(lock, stop, next, [] { return false; })) {
    if (stop.stop_requested()) return;
    const Clock::time_point now = Clock::now();
    next = now + *ping_period_;
    const std::optional<std::string> hung = Hung(now);
    if (!hung) {
      hang_said_ = false;
      lock.unlock();
      Send("WATCHDOG=1");
      lock.lock();
      continue;
    }
    if (hang_said_) continue;
    hang_said_ = true;
    const std::string line = "the " + *hung + " passed no checkpoint for " +
                             std::to_string(hang_limit_ / std::chrono::seconds(1)) +
                             " s: watchdog pings stop, the service manager restarts the service";
    lock.unlock();
    say_(line);
    Send("STATUS=hung: " + line);
    lock.lock();
  }
}

std::optional<std::string> ServiceNotifier::Hung(Clock::time_point now) const {
  if (now - main_seen_ > hang_limit_) return "main loop";
  if (laggard_ && laggard_->silence + (now - laggard_seen_) > hang_limit_) {
    return Role(laggard_->thread);
  }
  return std::nullopt;
}

void ServiceNotifier::Send(const std::string& message) const {
  // A failed notification changes nothing for the run itself.
  sd_notify(0, message.c_str());
}

}  // namespace ntrip_host
