// Sink serving the element stream to every TCP client that connects. Each client gets the
// elements written after it was accepted. A client that lags by more than the queue limit, or
// whose socket fails, is disconnected (and logged) so it never holds up the others or the writer.
#pragma once

#include "common/option_text.h"
#include "sinks/sink.h"

#include <memory>

namespace ntrip_host {

class TcpListenSink : public Sink {
 public:
  // `endpoint.host` empty: loopback only (127.0.0.1). "0.0.0.0": every IPv4 interface; "::":
  // every interface, IPv6 and IPv4 (IPv4 only where IPv6 is missing).
  // Binds and listens before returning; throws OptionError (with `option`) when it cannot.
  TcpListenSink(const HostPort& endpoint, std::string_view option, const SinkSettings& settings);
  ~TcpListenSink() override;

  void Write(std::string_view element) override;
  void Close() override;
  SinkCounters Counters() const override;
  std::string Description() const override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ntrip_host
