// The stop signals on POSIX: SIGINT, SIGTERM and SIGHUP blocked in every thread and taken with a
// signalfd or sigtimedwait, never in a signal handler.
#include "stop_control.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
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

const char* SignalName(int signal_number) {
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGHUP ? "SIGHUP" : "SIGTERM";
}

}  // namespace

void TakeOverStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::optional<std::string> WaitForStopSignal(std::chrono::milliseconds limit) {
  const sigset_t set = StopSignalSet();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
  const timespec slice{static_cast<std::time_t>(seconds.count()),
                       static_cast<long>(std::chrono::nanoseconds(limit - seconds).count())};
  const int signal_number = sigtimedwait(&set, nullptr, &slice);
  if (signal_number < 0) return std::nullopt;  // EAGAIN (time over) or EINTR
  return SignalName(signal_number);
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

void StopRequest::WakeSignalWait() {
  if (wake_fd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
  }
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

}  // namespace ntrip_host
