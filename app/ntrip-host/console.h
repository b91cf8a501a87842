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
  // which no text line may break into. `status_in_place`: the status is one line on a terminal,
  // redrawn each second; every other line first clears it and the next second draws it again.
  Console(bool quiet, bool verbose, bool stdout_is_stream = false, bool status_in_place = false)
      : quiet_(quiet),
        verbose_(verbose),
        stdout_is_stream_(stdout_is_stream),
        status_in_place_(status_in_place) {}
  void Info(const std::string& line) const {
    if (!quiet_) Write(line);
  }
  void Warning(const std::string& line) const { Write("warning: " + line); }
  void Error(const std::string& line) const { Write(line); }
  void Write(const std::string& line) const;
  bool StatusInPlace() const { return status_in_place_; }
  // The status: in place when so made (`short_line`, at most the terminal's width), else a line.
  void Status(const std::string& short_line, const std::string& full_line) const;
  // A result the user asked for: on stdout, or with the other lines when stdout is a stream.
  void Result(const std::string& line) const;
  ntrip_host::LogFunction LogFunction() const;
  // Every report also goes to `watch`, which follows the link from them.
  ReportSink Reports(ConnectionWatch& watch) const;

 private:
  const bool quiet_;
  const bool verbose_;
  const bool stdout_is_stream_;
  const bool status_in_place_;
};

}  // namespace ntrip_host
