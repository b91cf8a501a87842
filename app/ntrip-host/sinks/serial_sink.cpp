#include "sinks/serial_sink.h"

#include "common/io_thread.h"
#include "platform.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace ntrip_host {

namespace asio = boost::asio;
using boost::system::error_code;
using Element = std::shared_ptr<const std::string>;
using Clock = std::chrono::steady_clock;

struct SerialSink::Impl {
  const SerialDevice port_setting;
  const SinkSettings settings;
  const std::string description;
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  asio::serial_port port{io};
  asio::steady_timer drain_timer{io};
  // io thread only
  std::deque<Element> queue;
  std::size_t queued_bytes = 0;
  bool writing = false;
  bool closing = false;
  Clock::time_point last_open{};
  std::jthread thread;

  mutable std::mutex mutex;
  SinkCounters counters;
  bool closed = false;
  // Under mutex: elements handed to the io thread and not yet written or dropped (while any is,
  // a new element queues behind it), and the port's descriptor while it is open.
  std::size_t handed = 0;
  int fd = -1;

  Impl(const SerialDevice& s, const SinkSettings& st)
      : port_setting(s),
        settings(st),
        description("serial:" + s.device + " at " + std::to_string(s.baud) + " baud") {}

  void Log(LogLevel level, const std::string& line) const {
    LogTo(settings.log, level, description + ": " + line);
  }

  bool OpenPort(error_code& ec) {
    last_open = Clock::now();
    if (!OpenSerialPort(port, port_setting, ec)) return false;
    const int native = DirectPortDescriptor(port);
    std::scoped_lock lock(mutex);
    fd = native;
    return true;
  }

  void ClosePort() {
    std::scoped_lock lock(mutex);
    fd = -1;
    error_code ignored;
    port.close(ignored);
  }

  // What the port takes of `bytes` without waiting. With mutex held.
  std::size_t WriteNow(std::string_view bytes) const {
    int ignored = 0;  // full, or failed: the io thread finds out and reopens the port
    return WriteWithoutWaiting(fd, bytes, ignored);
  }

  void Finished(std::size_t elements) {
    std::scoped_lock lock(mutex);
    handed -= elements;
  }

  void Drop(std::size_t bytes, const char* why) {
    std::uint64_t dropped = 0;
    {
      std::scoped_lock lock(mutex);
      dropped = ++counters.elements_dropped;
      counters.bytes_dropped += bytes;
      --handed;
    }
    // The first drop and then one in a hundred: a dead port must not flood the log.
    if (dropped % 100 == 1) {
      Log(LogLevel::kWarning, "element of " + std::to_string(bytes) + " bytes dropped (" + why +
                                  "), " + std::to_string(dropped) + " dropped so far");
    }
  }

  void Deliver(const Element& element) {
    if (closing) return Finished(1);
    if (!port.is_open()) {
      error_code ec;
      if (Clock::now() - last_open < std::chrono::seconds(1) || !OpenPort(ec)) {
        Drop(element->size(), "port not open");
        return;
      }
      Log(LogLevel::kInfo, "port reopened");
    }
    if (queued_bytes + element->size() > settings.queue_limit) {
      Drop(element->size(), "port lagging");
      return;
    }
    queue.push_back(element);
    queued_bytes += element->size();
    if (!writing) WriteNext();
  }

  void WriteNext() {
    if (queue.empty()) {
      writing = false;
      if (closing) Finish();
      return;
    }
    writing = true;
    const Element element = queue.front();
    asio::async_write(port, asio::buffer(*element),
                      [this, element](const error_code& ec, std::size_t) {
                        if (ec) {
                          writing = false;
                          if (ec != asio::error::operation_aborted)
                            Log(LogLevel::kWarning, "write failed: " + ec.message());
                          ClosePort();
                          Finished(queue.size());
                          queue.clear();
                          queued_bytes = 0;
                          if (closing) Finish();
                          return;
                        }
                        queue.pop_front();
                        queued_bytes -= element->size();
                        Finished(1);
                        WriteNext();
                      });
  }

  void BeginClose() {
    closing = true;
    if (!writing) {
      Finish();
      return;
    }
    drain_timer.expires_after(settings.close_drain);
    drain_timer.async_wait([this](const error_code& ec) {
      if (ec) return;
      ClosePort();  // cancels the write in progress
    });
  }

  void Finish() {
    drain_timer.cancel();
    ClosePort();
  }
};

SerialSink::SerialSink(const SerialDevice& port_setting, std::string_view option,
                       const SinkSettings& settings)
    : impl_(std::make_unique<Impl>(port_setting, settings)) {
  error_code ec;
  if (!impl_->OpenPort(ec)) {
    throw OptionError(std::string(option) + ": serial:" + port_setting.device +
                      ": cannot open: " + ec.message());
  }
  impl_->thread = std::jthread([this] {
    tarno::NameThisThread("ntrip-serial-io");
    RunGuarded(impl_->io, impl_->settings.log);
  });
}

SerialSink::~SerialSink() {
  Close();
}

// The element goes out in the caller's thread when nothing waits before it and the port has
// room; only what the port cannot take now is copied and handed to the io thread.
void SerialSink::Write(std::string_view element) {
  Impl& impl = *impl_;
  std::scoped_lock lock(impl.mutex);
  if (impl.closed) return;
  impl.counters.bytes_written += element.size();
  ++impl.counters.elements_written;
  const std::size_t done = impl.handed == 0 ? impl.WriteNow(element) : 0;
  if (done == element.size()) return;
  ++impl.handed;
  auto rest = std::make_shared<const std::string>(element.substr(done));
  asio::post(impl.io, [p = &impl, rest] { p->Deliver(rest); });
}

void SerialSink::Close() {
  CloseOnIoThread(*impl_);
}

SinkCounters SerialSink::Counters() const {
  std::scoped_lock lock(impl_->mutex);
  return impl_->counters;
}

std::string SerialSink::Description() const {
  return impl_->description;
}

}  // namespace ntrip_host
