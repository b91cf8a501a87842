// Sink into a pipe, a FIFO or a socket (stdout piped into another program, --raw-out FIFO).
// An element is written in the caller's thread as far as the pipe takes it at once; only what would
// block goes to the sink's own thread (started the first time), so a reader that stops reading
// cannot hold the component or the stop: what waits is bounded (elements past
// SinkSettings::queue_limit are dropped and counted), and a close gives up on a reader that takes
// nothing, saying how many bytes were not written. A stall (5 s without progress, or a drop) is
// said when it starts, at most once per SinkSettings::stall_report_period while it lasts, and
// when the reader has caught up again: a fast stream into a dead reader must not flood stderr.
#pragma once

#include "sinks/sink.h"

#include <memory>

namespace ntrip_host {

class PipeSink : public Sink {
 public:
  // Takes over `fd` and closes it at Close().
  PipeSink(int fd, std::string description, const SinkSettings& settings);
  ~PipeSink() override;

  // Throws SinkError once a write has failed (the reader went away).
  void Write(std::string_view element) override;
  void Close() override;
  SinkCounters Counters() const override;
  std::string Description() const override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// True when `fd` is a pipe, a FIFO or a socket: a file whose reader may stop taking data.
bool IsPipeLike(int fd);

// Standard output as a sink: a pipe behind it is written without blocking where the platform
// has non-blocking pipes, a file or a console as a file.
std::unique_ptr<Sink> MakeStdoutSink(const SinkSettings& settings);
// The sink of `path` when it names a FIFO; none for any other file (and on a platform without
// FIFOs).
std::unique_ptr<Sink> MakeFifoSink(const std::string& path, std::string_view option,
                                   const SinkSettings& settings);

}  // namespace ntrip_host
