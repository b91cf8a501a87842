// Where the program writes the component's output elements: a file, stdout, TCP clients or a
// serial port. Elements are passed on unchanged and in order.
#pragma once

#include "common/program_log.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ntrip_host {

// A write to a file or stdout failed (disk full, closed pipe). The sink stays usable for the
// caller to Close().
class SinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SinkCounters {
  std::uint64_t bytes_written = 0;     // bytes of the elements the sink took
  std::uint64_t elements_written = 0;  // elements the sink took
  std::uint64_t elements_dropped = 0;  // pipe, serial: elements refused because the reader or the
                                       // port lagged or failed
  std::uint64_t bytes_dropped = 0;     // the bytes of those elements
  std::uint64_t clients_connected = 0;  // tcp-listen: clients accepted so far
  std::uint64_t clients_dropped = 0;    // tcp-listen: clients cut off for lagging or failing
};

class Sink {
 public:
  virtual ~Sink() = default;

  // Passes one element on. Files and stdout are written and flushed before it returns (throws
  // SinkError on failure); tcp-listen and serial queue it and return at once.
  virtual void Write(std::string_view element) = 0;

  // Flushes what is queued (bounded by SinkSettings::close_drain), releases the device, joins
  // the sink's thread. Idempotent; the destructor calls it. No Write() after Close().
  virtual void Close() = 0;

  // A reload: a file sink closes and opens its path again, so a file that log rotation renamed
  // or removed is created anew and takes the bytes that follow. Throws SinkError when the path
  // cannot be opened; the sink then keeps writing where it did. Other sinks go on as they are.
  virtual void Reopen() {}

  virtual SinkCounters Counters() const = 0;
  virtual std::string Description() const = 0;
};

struct SinkSettings {
  // tcp-listen: bytes one client may have waiting; a client past it is disconnected.
  // serial: bytes waiting for the port; elements past it are dropped (and counted).
  std::size_t queue_limit = 1 << 20;
  std::chrono::milliseconds close_drain{2000};
  // pipe: while the reader stays stalled, how often it is said again with the count dropped.
  std::chrono::milliseconds stall_report_period{60000};
  LogFunction log;  // empty: stderr
  // What the sink carries, in its warnings ("raw output stalled: ...").
  std::string output_name = "output";
};

// SINK text: a file path (created or truncated), "-" for stdout, "tcp-listen://[ADDR:]PORT"
// (ADDR a literal IPv4 address, [IPv6] address or "localhost"; without ADDR loopback only,
// 0.0.0.0 or [::] for every interface; PORT 0 lets the system pick) or "serial:DEVICE[:BAUD]"
// (default 115200). `option` names the option in error texts ("--raw-out"). Throws OptionError for
// bad text, a file that cannot be created, an address that cannot be bound or a port that cannot be
// opened.
// "12 elements (24576 bytes)": how the sinks and the stop line count what was dropped.
std::string DroppedText(std::uint64_t elements, std::uint64_t bytes);

std::unique_ptr<Sink> MakeSink(std::string_view text, std::string_view option,
                               const SinkSettings& settings = {});

}  // namespace ntrip_host
