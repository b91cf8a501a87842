// Where no service manager speaks systemd's notification protocol (Windows), nothing is sent and
// no watchdog runs.
#include "service_notifier.h"

namespace ntrip_host {

ServiceNotifier::ServiceNotifier(std::function<void(const std::string&)> say,
                                 Clock::duration hang_limit)
    : enabled_(false), say_(std::move(say)), hang_limit_(hang_limit) {}

ServiceNotifier::~ServiceNotifier() = default;

void ServiceNotifier::Ready(const std::string&) {}

void ServiceNotifier::Reloading() {}

void ServiceNotifier::Tick(Clock::time_point, const std::string&, std::optional<Laggard>) {}

void ServiceNotifier::Stopping() {}

}  // namespace ntrip_host
