// Sink into a file or stdout: each element is written and flushed at once, so a reader of the
// file sees it without delay.
#pragma once

#include "sinks/sink.h"

#include <cstdio>
#include <mutex>

namespace ntrip_host {

// Standard output kept for the stream alone. The first call moves the process's standard output
// to a descriptor of its own and points descriptor 1 at standard error: from then on every text
// line of the process (the logger's, the reports, the program's own) goes to standard error and a
// reader of standard output gets the stream's bytes only.
std::FILE* StreamStdout();

class FileSink : public Sink {
 public:
  // Creates or truncates `path`; throws OptionError (with `option`) when it cannot.
  FileSink(const std::string& path, std::string_view option);
  // Standard output (StreamStdout()); not closed by Close(), only flushed.
  FileSink();
  ~FileSink() override;

  void Write(std::string_view element) override;
  void Close() override;
  void Reopen() override;
  SinkCounters Counters() const override;
  std::string Description() const override;

 private:
  const std::string name_;
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  const bool owned_;
  SinkCounters counters_;
};

}  // namespace ntrip_host
