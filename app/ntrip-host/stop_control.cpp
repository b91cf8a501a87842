#include "stop_control.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform.h"

namespace ntrip_host {

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
  WakeSignalWait();
}

bool StopRequest::Requested() const {
  std::scoped_lock lock(mutex_);
  return requested_;
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
  bool first = !first_taken_;
  while (!stop.stop_requested()) {
    // Bounded, so the stop token is looked at this often; the wait itself ends at once on a
    // signal.
    const std::optional<std::string> name = WaitForStopSignal(std::chrono::milliseconds(200));
    if (!name) continue;
    if (first) {
      first = false;
      on_signal_(*name);
      continue;
    }
    std::fprintf(stderr, "ntrip-host: second %s, exiting at once\n", name->c_str());
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
