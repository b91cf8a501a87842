#include "run_monitor.h"

#include "console.h"

namespace ntrip_host {

RunMonitor::RunMonitor(const RunOptions& options, const Console& console, Clock::time_point start)
    : show_status_(options.status || options.demo),
      console_(console),
      status_(start),
      link_([this] { status_.OnNewConnection(); }),
      service_([&console](const std::string& line) { console.Error(line); }) {
  if (options.status_json) status_json_.emplace(*options.status_json, console.LogFunction());
}

void RunMonitor::Ready(Clock::time_point now) {
  service_.Ready(RunStatus::LinkPart(link_.Take(now)));
}

void RunMonitor::Tick(Clock::time_point now, const SourceSwitch& sources,
                      const PositionSource* nmea_source, const Instance* current) {
  if (show_status_ || status_json_) {
    ShowStatus(now, status_, link_, sources, nmea_source, show_status_ ? &console_ : nullptr,
               status_json_ ? &*status_json_ : nullptr);
  }
  std::optional<ServiceNotifier::Laggard> laggard;
  if (current != nullptr) {
    if (const auto silence = current->LongestSilence(now)) {
      laggard = ServiceNotifier::Laggard{silence->duration, silence->thread};
    }
  }
  service_.Tick(now, RunStatus::LinkPart(link_.Take(now)), std::move(laggard));
}

void RunMonitor::Reloading() {
  service_.Reloading();
}

void RunMonitor::Stopping() {
  service_.Stopping();
}

std::string RunMonitor::Summary(Clock::time_point now) const {
  return status_.Summary(link_.Take(now));
}

}  // namespace ntrip_host
