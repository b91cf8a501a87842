#include "sinks/pipe_sink.h"

#include "common/io_thread.h"
#include "platform.h"
#include "sinks/file_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace ntrip_host {

namespace asio = boost::asio;
using boost::system::error_code;
using Element = std::shared_ptr<const std::string>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {
constexpr auto kWatchPeriod = 250ms;
constexpr auto kStallWarning = 5s;
// At a close, a reader that has taken nothing for this long is given up.
constexpr auto kCloseGiveUp = 500ms;
std::string Seconds(Clock::duration duration) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count()) + " s";
}

}  // namespace

bool IsPipeLike(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

struct PipeSink::Impl {
  const SinkSettings settings;
  const std::string description;
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  asio::posix::stream_descriptor stream{io};
  asio::steady_timer watch{io};
  // io thread only
  std::deque<Element> queue;
  std::size_t queued_bytes = 0;  // not yet written, the front's written part excluded
  std::size_t front_written = 0;
  bool writing = false;
  bool closing = false;
  bool finished = false;
  bool stall_warned = false;
  Clock::time_point stalled_at{};
  Clock::time_point stall_reported_at{};
  std::uint64_t elements_dropped_at_stall = 0;
  std::uint64_t bytes_dropped_at_stall = 0;
  Clock::time_point last_progress = Clock::now();
  Clock::time_point close_deadline{};
  std::jthread thread;

  mutable std::mutex mutex;
  SinkCounters counters;
  bool closed = false;
  std::string failure;  // under mutex
  // Under mutex: elements handed to the io thread and not yet written or dropped. While any is,
  // a new element queues behind it, so the order holds.
  std::size_t handed = 0;
  int fd = -1;  // under mutex: -1 once the io thread has closed it
  // Under mutex: the io thread starts with the first element the pipe cannot take at once; a
  // reader that keeps up never costs a thread.
  bool thread_started = false;

  Impl(const SinkSettings& s, std::string d) : settings(s), description(std::move(d)) {}

  // Writes what the pipe takes without waiting; the count of bytes it took. With mutex held.
  std::size_t WriteNow(std::string_view bytes) {
    int error = 0;
    const std::size_t done = WriteWithoutWaiting(fd, bytes, error);
    if (error != 0) failure = description + ": write failed: " + std::strerror(error);
    return done;
  }

  void Finished(std::size_t elements) {
    std::scoped_lock lock(mutex);
    handed -= elements;
  }

  void Log(const std::string& line) const { LogTo(settings.log, LogLevel::kWarning, line); }

  void Deliver(const Element& element) {
    if (closing || finished) return Finished(1);
    if (queued_bytes + element->size() > settings.queue_limit) {
      // Said before the count, so that the stall's count includes its first drop.
      if (!stall_warned) WarnStalled(Clock::now());
      std::scoped_lock lock(mutex);
      ++counters.elements_dropped;
      counters.bytes_dropped += element->size();
      --handed;
      return;
    }
    if (queue.empty()) last_progress = Clock::now();  // a stall counts from when data waits
    queue.push_back(element);
    queued_bytes += element->size();
    if (!writing) WriteNext();
  }

  void WriteNext() {
    if (queue.empty() || finished) {
      writing = false;
      if (closing) Finish();
      return;
    }
    writing = true;
    const Element element = queue.front();
    stream.async_write_some(
        asio::buffer(element->data() + front_written, element->size() - front_written),
        [this, element](const error_code& ec, std::size_t n) {
          if (finished) return;
          if (ec) {
            writing = false;
            {
              std::scoped_lock lock(mutex);
              failure = description + ": write failed: " + ec.message();
            }
            Finish();
            return;
          }
          last_progress = Clock::now();
          front_written += n;
          queued_bytes -= n;
          if (front_written == element->size()) {
            queue.pop_front();
            front_written = 0;
            Finished(1);
          }
          // Recovered only once caught up: a reader taking a little now and then stays stalled.
          if (stall_warned && queue.empty()) WarnRecovered(last_progress);
          WriteNext();
        });
  }

  void Watch() {
    watch.expires_after(kWatchPeriod);
    watch.async_wait([this](const error_code& ec) {
      if (ec || finished) return;
      const auto now = Clock::now();
      if (!queue.empty() && !stall_warned && now - last_progress >= kStallWarning) {
        WarnStalled(now);
      } else if (stall_warned && now - stall_reported_at >= settings.stall_report_period) {
        stall_reported_at = now;
        const SinkCounters dropped = Counters();
        Log(settings.output_name + " still stalled (" + Seconds(now - stalled_at) + "): " +
            DroppedText(dropped.elements_dropped - elements_dropped_at_stall,
                        dropped.bytes_dropped - bytes_dropped_at_stall) +
            " dropped so far");
      }
      if (closing && (now - last_progress >= kCloseGiveUp || now >= close_deadline)) {
        Finish();
        return;
      }
      Watch();
    });
  }

  SinkCounters Counters() const {
    std::scoped_lock lock(mutex);
    return counters;
  }

  void WarnStalled(Clock::time_point now) {
    stall_warned = true;
    stalled_at = stall_reported_at = now;
    const SinkCounters dropped = Counters();
    elements_dropped_at_stall = dropped.elements_dropped;
    bytes_dropped_at_stall = dropped.bytes_dropped;
    Log(settings.output_name + " stalled: " + std::to_string(queued_bytes) +
        " bytes waiting for " + description + "; what does not fit is dropped");
  }

  void WarnRecovered(Clock::time_point now) {
    stall_warned = false;
    const SinkCounters dropped = Counters();
    Log(settings.output_name + " recovered after " + Seconds(now - stalled_at) + ": " +
        DroppedText(dropped.elements_dropped - elements_dropped_at_stall,
                    dropped.bytes_dropped - bytes_dropped_at_stall) +
        " dropped while " + description + " was stalled");
  }

  void BeginClose() {
    closing = true;
    close_deadline = Clock::now() + settings.close_drain;
    if (!writing) Finish();
  }

  void Finish() {
    if (finished) return;
    finished = true;
    watch.cancel();
    if (queued_bytes > 0) {
      Log(settings.output_name + ": " + std::to_string(queued_bytes) +
          " bytes could not be written to " + description);
    }
    std::scoped_lock lock(mutex);
    handed -= queue.size();
    queue.clear();
    queued_bytes = 0;
    fd = -1;
    error_code ignored;
    stream.close(ignored);  // cancels a write in progress
  }
};

PipeSink::PipeSink(int fd, std::string description, const SinkSettings& settings)
    : impl_(std::make_unique<Impl>(settings, std::move(description))) {
  // Never blocks: what the pipe cannot take at once waits in the io thread's queue.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  impl_->fd = fd;
  impl_->stream.assign(fd);
  impl_->Watch();
}

PipeSink::~PipeSink() {
  Close();
}

// The element goes out in the caller's thread when nothing waits before it and the pipe has
// room; only what the pipe cannot take now is copied and handed to the io thread.
void PipeSink::Write(std::string_view element) {
  Impl& impl = *impl_;
  std::scoped_lock lock(impl.mutex);
  if (!impl.failure.empty()) throw SinkError(impl.failure);
  if (impl.closed) return;
  impl.counters.bytes_written += element.size();
  ++impl.counters.elements_written;
  const std::size_t done = impl.handed == 0 ? impl.WriteNow(element) : 0;
  if (!impl.failure.empty()) throw SinkError(impl.failure);
  if (done == element.size()) return;
  ++impl.handed;
  if (!impl.thread_started) {
    impl.thread_started = true;
    impl.thread = std::jthread([p = &impl] {
      tarno::NameThisThread("ntrip-pipe-io");
      RunGuarded(p->io, p->settings.log);
    });
  }
  auto rest = std::make_shared<const std::string>(element.substr(done));
  asio::post(impl.io, [p = &impl, rest] { p->Deliver(rest); });
}

void PipeSink::Close() {
  CloseOnIoThread(*impl_);
  bool started = false;
  {
    std::scoped_lock lock(impl_->mutex);
    started = impl_->thread_started;
  }
  // Nothing ever waited for the pipe: the close runs here, at once.
  if (!started) RunGuarded(impl_->io, impl_->settings.log);
}

SinkCounters PipeSink::Counters() const {
  return impl_->Counters();
}

std::string PipeSink::Description() const {
  return impl_->description;
}

std::unique_ptr<Sink> MakeStdoutSink(const SinkSettings& settings) {
  // A pipe whose reader stops reading must not hold the program: written without blocking.
  const int stream_fd = fileno(StreamStdout());
  if (IsPipeLike(stream_fd)) {
    const int fd = DuplicateDescriptor(stream_fd);
    if (fd >= 0) return std::make_unique<PipeSink>(fd, "stdout", settings);
  }
  return std::make_unique<FileSink>();
}

std::unique_ptr<Sink> MakeFifoSink(const std::string& path, std::string_view option,
                                   const SinkSettings& settings) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return nullptr;
  // Opened for reading too, so the open never waits for a reader; a missing reader then shows
  // as a stall.
  const int fd = OpenWithoutWaiting(path, true);
  if (fd < 0) {
    throw OptionError(std::string(option) + ": '" + path +
                      "': cannot open: " + std::strerror(errno));
  }
  return std::make_unique<PipeSink>(fd, "FIFO " + path, settings);
}

}  // namespace ntrip_host
