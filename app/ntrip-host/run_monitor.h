#pragma once
// What the run tells about itself while it goes: the link as the component's reports tell it,
// the once-a-second status (line and JSON), the service manager's notifications, and the
// figures of the stop line.
#include <chrono>
#include <optional>
#include <string>

#include "connection_watch.h"
#include "console.h"
#include "engine_names.h"
#include "options.h"
#include "positions/position_source.h"
#include "service_notifier.h"
#include "source_switch.h"
#include "status.h"
#include "status_output.h"

namespace ntrip_host {

class RunMonitor {
 public:
  using Clock = std::chrono::steady_clock;

  // Throws UsageError when the --status-json file cannot be opened.
  RunMonitor(const RunOptions& options, const Console& console, Clock::time_point start);

  RunStatus& Status() { return status_; }
  ConnectionWatch& Link() { return link_; }

  void Ready(Clock::time_point now);
  // Once a second. `nmea_source`: the source whose bad sentences the status counts, null for
  // other sources; `current`: the instance that runs now, if any.
  void Tick(Clock::time_point now, const SourceSwitch& sources,
            const PositionSource* nmea_source, const Instance* current);
  void Reloading();
  void Stopping();
  // The stop line's figures of the outputs and the link.
  std::string Summary(Clock::time_point now) const;

 private:
  const bool show_status_;
  const Console& console_;
  std::optional<StatusJsonWriter> status_json_;
  RunStatus status_;
  ConnectionWatch link_;
  ServiceNotifier service_;
};

}  // namespace ntrip_host
