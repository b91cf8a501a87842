#include "stop_control.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace ntrip_host {

namespace {

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // A closed terminal or a service manager's reload: a clean stop too, never a silent death.
  sigaddset(&set, SIGHUP);
  return set;
}

// The watcher looks at its stop token this often; the wait itself ends at once on a signal.
constexpr long kWatchSliceNanoseconds = 200'000'000;

}  // namespace

void TakeOverStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void StopRequest::Request(const std::string& reason, bool failed) {
  {
    std::scoped_lock lock(mutex_);
    if (requested_) return;
    requested_ = true;
    failed_ = failed;
    reason_ = reason;
  }
  changed_.notify_all();
  // Outside the lock: the callbacks close sockets, and none of them waits on this mutex.
  source_.request_stop();
}

bool StopRequest::WaitUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return requested_; });
}

std::string StopRequest::Reason() const {
  std::scoped_lock lock(mutex_);
  return reason_;
}

bool StopRequest::Failed() const {
  std::scoped_lock lock(mutex_);
  return failed_;
}

SignalWatcher::SignalWatcher(std::function<void(const std::string&)> on_signal)
    : on_signal_(std::move(on_signal)), thread_([this](std::stop_token stop) { Run(stop); }) {}

SignalWatcher::~SignalWatcher() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void SignalWatcher::Run(std::stop_token stop) {
  const sigset_t set = StopSignalSet();
  const timespec slice{0, kWatchSliceNanoseconds};
  bool first = true;
  while (!stop.stop_requested()) {
    const int signal_number = sigtimedwait(&set, nullptr, &slice);
    if (signal_number < 0) continue;  // EAGAIN (slice over) or EINTR
    const std::string name = signal_number == SIGINT    ? "SIGINT"
                             : signal_number == SIGHUP ? "SIGHUP"
                                                       : "SIGTERM";
    if (first) {
      first = false;
      on_signal_(name);
      continue;
    }
    std::fprintf(stderr, "ntrip-host: second %s, exiting at once\n", name.c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
}

ShutdownDeadline::ShutdownDeadline(std::chrono::milliseconds limit)
    : thread_([this, limit](std::stop_token stop) {
        std::unique_lock lock(mutex_);
        if (done_cv_.wait_for(lock, stop, limit, [] { return false; }) || stop.stop_requested()) {
          return;
        }
        std::fprintf(stderr, "ntrip-host: the component did not stop within %lld s; exiting\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::seconds>(limit).count()));
        std::fflush(stderr);
        std::_Exit(1);
      }) {}

ShutdownDeadline::~ShutdownDeadline() {
  Done();
}

void ShutdownDeadline::Done() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace ntrip_host
