// Where no service manager speaks systemd's notification protocol (Windows), nothing is sent.
#include "service_notifier.h"

namespace ntrip_host {

ServiceNotifier::ServiceNotifier() : enabled_(false) {}

void ServiceNotifier::Ready(const std::string&) {}

void ServiceNotifier::Tick(Clock::time_point, const std::string&, std::optional<Clock::duration>) {}

void ServiceNotifier::Stopping() {}

void ServiceNotifier::Send(const std::string&) const {}

}  // namespace ntrip_host
