// Runs an io_context on the calling thread until it stops or runs out of work.
#pragma once

#include "common/descriptor_calls.h"
#include "common/option_text.h"
#include "common/program_log.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/serial_port.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ntrip_host {

// An exception out of a handler is logged and the loop goes on: nothing ends the process
// silently from a pieces' thread.
void RunGuarded(boost::asio::io_context& io, const LogFunction& log);

// Opens `port` on the device at its baud rate; on failure the port is closed again and false
// returned with the reason in `ec`.
bool OpenSerialPort(boost::asio::serial_port& port, const SerialDevice& device,
                    boost::system::error_code& ec);

// The sinks with an io thread of their own close through it. `Impl` holds `mutex`, `closed`,
// `io`, `work`, `thread`, and `BeginClose()` for the io thread.
template <typename Impl>
void CloseOnIoThread(Impl& impl) {
  {
    std::scoped_lock lock(impl.mutex);
    if (impl.closed) return;
    impl.closed = true;
    boost::asio::post(impl.io, [p = &impl] { p->BeginClose(); });
  }
  impl.work.reset();
  // run() returns once the io thread has drained or cut off what it still held.
  if (impl.thread.joinable()) impl.thread.join();
}

}  // namespace ntrip_host
