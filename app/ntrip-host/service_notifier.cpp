#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace ntrip_host {

ServiceNotifier::ServiceNotifier() : enabled_(std::getenv("NOTIFY_SOCKET") != nullptr) {
  std::uint64_t microseconds = 0;
  if (enabled_ && sd_watchdog_enabled(0, &microseconds) > 0 && microseconds > 0) {
    ping_period_ = std::chrono::microseconds(microseconds / 2);
  }
}

void ServiceNotifier::Ready(const std::string& status) {
  if (!enabled_) return;
  Send("READY=1\nSTATUS=" + status);
  if (ping_period_) {
    Send("WATCHDOG=1");
    next_ping_ = Clock::now() + *ping_period_;
  }
}

void ServiceNotifier::Tick(Clock::time_point now, const std::string& status,
                           std::optional<Clock::duration> silence) {
  if (!enabled_) return;
  Send("STATUS=" + status);
  const bool hung = silence && *silence > kHangLimit;
  if (ping_period_ && !hung && now >= next_ping_) {
    Send("WATCHDOG=1");
    next_ping_ = now + *ping_period_;
  }
}

void ServiceNotifier::Stopping() {
  if (!enabled_) return;
  Send("STOPPING=1\nSTATUS=stopping");
}

void ServiceNotifier::Send(const std::string& message) const {
  // A failed notification changes nothing for the run itself.
  sd_notify(0, message.c_str());
}

}  // namespace ntrip_host
