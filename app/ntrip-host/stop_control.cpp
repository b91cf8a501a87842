#include "stop_control.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform.h"

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

const char* SignalName(int signal_number) {
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGHUP ? "SIGHUP" : "SIGTERM";
}

// The watcher looks at its stop token this often; the wait itself ends at once on a signal.
constexpr long kWatchSliceNanoseconds = 200'000'000;

}  // namespace

void TakeOverStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

StopRequest::StopRequest()
    : wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), signal_fd_([] {
        const sigset_t set = StopSignalSet();
        return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
      }()) {}

StopRequest::~StopRequest() {
  if (wake_fd_ >= 0) close(wake_fd_);
  if (signal_fd_ >= 0) close(signal_fd_);
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
  if (wake_fd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
  }
}

bool StopRequest::Requested() const {
  std::scoped_lock lock(mutex_);
  return requested_;
}

bool StopRequest::WaitUntilOrSignal(Clock::time_point deadline) {
  if (wake_fd_ < 0 || signal_fd_ < 0) return WaitUntil(deadline);
  while (!Requested()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {signal_fd_, POLLIN, 0}};
    const auto bound = std::min<std::chrono::milliseconds::rep>(left.count(), 60'000);
    if (poll(fds, 2, static_cast<int>(bound)) <= 0) continue;  // slice over, or EINTR
    signalfd_siginfo info{};
    if (read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      {
        std::scoped_lock lock(mutex_);
        if (info.ssi_signo == SIGHUP && reload_on_hangup_) {
          reload_pending_ = true;
          return false;  // the caller reloads, then waits again
        }
        signalled_ = true;
      }
      Request(std::string("received ") + SignalName(static_cast<int>(info.ssi_signo)));
    }
  }
  return true;
}

void StopRequest::ReloadOnHangup() {
  std::scoped_lock lock(mutex_);
  reload_on_hangup_ = true;
}

bool StopRequest::TakeReload() {
  std::scoped_lock lock(mutex_);
  return std::exchange(reload_pending_, false);
}

bool StopRequest::Signalled() const {
  std::scoped_lock lock(mutex_);
  return signalled_;
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

SignalWatcher::SignalWatcher(std::function<void(const std::string&)> on_signal, bool first_taken)
    : on_signal_(std::move(on_signal)),
      first_taken_(first_taken),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

SignalWatcher::~SignalWatcher() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void SignalWatcher::Run(std::stop_token stop) {
  tarno::NameThisThread("ntrip-signals");
  const sigset_t set = StopSignalSet();
  const timespec slice{0, kWatchSliceNanoseconds};
  bool first = !first_taken_;
  while (!stop.stop_requested()) {
    const int signal_number = sigtimedwait(&set, nullptr, &slice);
    if (signal_number < 0) continue;  // EAGAIN (slice over) or EINTR
    const std::string name = SignalName(signal_number);
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
        tarno::NameThisThread("ntrip-deadline");
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
