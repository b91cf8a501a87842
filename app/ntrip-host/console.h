#pragma once
// The program's own lines on stderr ("ntrip-host: ..."), and the component's reports as the
// console shows them.
#include <string>

#include "common/program_log.h"
#include "connection_watch.h"
#include "engine_names.h"

namespace ntrip_host {

// Information lines are dropped when quiet; the component's step-by-step reports wait for
// --verbose.
class Console {
 public:
  Console(bool quiet, bool verbose) : quiet_(quiet), verbose_(verbose) {}
  void Info(const std::string& line) const {
    if (!quiet_) Write(line);
  }
  void Warning(const std::string& line) const { Write("warning: " + line); }
  void Error(const std::string& line) const { Write(line); }
  static void Write(const std::string& line);
  ntrip_host::LogFunction LogFunction() const;
  // Every report also goes to `watch`, which follows the link from them.
  ReportSink Reports(ConnectionWatch& watch) const;

 private:
  const bool quiet_;
  const bool verbose_;
};

}  // namespace ntrip_host
