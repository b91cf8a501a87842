// Sink into a pipe, a FIFO or a socket (stdout piped into another program, --raw-out FIFO).
// An element is written in the caller's thread as far as the pipe takes it at once; only what would
// block goes to the sink's own thread (started the first time), so a reader that stops reading
// cannot hold the component or the stop: what waits is bounded (elements past
// SinkSettings::queue_limit are dropped and counted), a stall of 5 s is reported once, and a
// close gives up on a reader that takes nothing, saying how many bytes were not written.
#pragma once

#include "runner/sink.h"

#include <memory>

namespace runner {

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

}  // namespace runner
