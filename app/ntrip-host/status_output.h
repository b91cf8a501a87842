#pragma once
// The once-a-second status: a line on stderr with --status, JSON Lines with --status-json.
#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "connection_watch.h"
#include "console.h"
#include "positions/position_source.h"
#include "sinks/sink.h"
#include "source_switch.h"
#include "status.h"

namespace ntrip_host {

// --status-json: JSON Lines to a file, a FIFO or stdout, flushed each second for monitoring
// tools. A FIFO is written as the outputs write one: never waiting for its reader.
class StatusJsonWriter {
 public:
  // Throws UsageError when the file cannot be opened. `log`: the FIFO's stall warnings.
  StatusJsonWriter(const std::string& target, LogFunction log);
  void Write(const nlohmann::json& object);

 private:
  const bool to_stdout_;
  LogFunction log_;
  std::unique_ptr<Sink> fifo_;
  bool failed_ = false;  // the FIFO failed: nothing more is written to it
  std::ofstream file_;
};

// `nmea_source`: the source whose bad sentences the status counts, null for other sources.
// `console`: the status on stderr, null without --status; `json`: null without --status-json.
void ShowStatus(std::chrono::steady_clock::time_point now, RunStatus& status,
                const ConnectionWatch& link, const SourceSwitch& sources,
                const ntrip_host::PositionSource* nmea_source, const Console* console,
                StatusJsonWriter* json);

}  // namespace ntrip_host
