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
  // `stdout_is_stream`: standard output carries machine output (a sink's stream, JSON lines),
  // which no text line may break into.
  Console(bool quiet, bool verbose, bool stdout_is_stream = false)
      : quiet_(quiet), verbose_(verbose), stdout_is_stream_(stdout_is_stream) {}
  void Info(const std::string& line) const {
    if (!quiet_) Write(line);
  }
  void Warning(const std::string& line) const { Write("warning: " + line); }
  void Error(const std::string& line) const { Write(line); }
  static void Write(const std::string& line);
  // A result the user asked for: on stdout, or with the other lines when stdout is a stream.
  void Result(const std::string& line) const;
  ntrip_host::LogFunction LogFunction() const;
  // Every report also goes to `watch`, which follows the link from them.
  ReportSink Reports(ConnectionWatch& watch) const;

 private:
  const bool quiet_;
  const bool verbose_;
  const bool stdout_is_stream_;
};

}  // namespace ntrip_host
