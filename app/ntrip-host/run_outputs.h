#pragma once
// The run's two outputs. Every element the component publishes goes to its sink first, then to
// the scans of the status and of the source switch, in the writer thread that publishes it: the
// scans never delay a byte, and a sink that fails ends the run as a failure.
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "console.h"
#include "engine_names.h"
#include "run_plan.h"
#include "sinks/sink.h"
#include "source_switch.h"
#include "status.h"
#include "stop_control.h"

namespace ntrip_host {

// Hands every element of an output to its sink. A sink that fails (disk full, closed pipe) is
// written no more and asks the run to stop.
class OutputRoute {
 public:
  OutputRoute(std::string option, Sink* sink, StopRequest& stop, const Console& console)
      : option_(std::move(option)), sink_(sink), stop_(stop), console_(console) {}
  void Write(std::string_view bytes);

 private:
  const std::string option_;
  Sink* const sink_;
  StopRequest& stop_;
  const Console& console_;
  std::atomic<bool> failed_{false};
};

class RunOutputs {
 public:
  // Opens the sinks the plan names; a file, an endpoint or a device found bad is a UsageError,
  // told before the package loads.
  RunOutputs(const RunPlan& plan, StopRequest& stop, const Console& console);

  // From here on, each element also feeds `status` and, for the raw output, `sources`.
  void Feed(RunStatus& status, SourceSwitch& sources);
  void Attach(Instance& instance) const;

  // "raw output: ...; decoded output: ..." for the line that starts the run.
  std::string Description() const;
  // For the stop line: what a stalled output could not take.
  std::string DroppedSummary() const;
  // Reopens the sinks (a reload after log rotation); the problems found, empty when none.
  std::string Reopen();
  void Close();

 private:
  std::unique_ptr<Sink> raw_sink_, decoded_sink_;
  OutputRoute raw_route_, decoded_route_;
  OutputConsumer raw_consumer_, decoded_consumer_;
};

}  // namespace ntrip_host
