// Sink writing the element stream to a serial port (corrections into a receiver). An element is
// written in the caller's thread as far as the port takes it at once; only the rest is queued for
// the sink's own thread, so a slow or stalled port never blocks the producer; what does not fit
// in the queue is dropped and counted, and logged.
#pragma once

#include "common/option_text.h"
#include "sinks/sink.h"

#include <memory>

namespace ntrip_host {

class SerialSink : public Sink {
 public:
  // Opens the port now; throws OptionError (with `option`) when it cannot. After a write error
  // the port is closed and reopened, at most once a second, when the next element comes.
  SerialSink(const SerialDevice& port_setting, std::string_view option,
             const SinkSettings& settings);
  ~SerialSink() override;

  void Write(std::string_view element) override;
  void Close() override;
  SinkCounters Counters() const override;
  std::string Description() const override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ntrip_host
