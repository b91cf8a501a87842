#pragma once
// How a run ends: a signal, the duration, a failure. SIGINT, SIGTERM and SIGHUP are taken with
// sigtimedwait or a signalfd, never in a signal handler; on Windows the console's control events
// (Ctrl-C, Ctrl-Break, closing the console) take their place.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace ntrip_host {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and every thread it starts afterwards,
// and ignores SIGPIPE (a TCP client of a sink that goes away must not end the program). Call
// first thing in main, before any thread exists.
void TakeOverStopSignals();

// Waits at most `limit` for a stop signal and takes it; its name ("SIGINT", "Ctrl-C").
std::optional<std::string> WaitForStopSignal(std::chrono::milliseconds limit);

// Windows: the console's control handler. Queues a stop event (Ctrl-C, Ctrl-Break, closing the
// console, logoff, shutdown) for WaitForStopSignal and says it took it; a close, logoff or
// shutdown holds on a few seconds for the stop, since Windows ends the process at its return.
bool OnConsoleEvent(unsigned long event);

class StopRequest {
 public:
  using Clock = std::chrono::steady_clock;

  // The first request wins; later ones are ignored. `failed` makes the exit status 1.
  void Request(const std::string& reason, bool failed = false);
  // True once requested; otherwise waits until `deadline`.
  bool WaitUntil(Clock::time_point deadline);
  // True once requested; otherwise waits until `deadline` or for SIGINT/SIGTERM/SIGHUP, which it
  // turns into a request named after the signal. For a loop that runs while no SignalWatcher does:
  // the signals are then taken without a thread of their own.
  bool WaitUntilOrSignal(Clock::time_point deadline);
  // The signal that ended WaitUntilOrSignal, if one did.
  bool Signalled() const;
  // From now on, SIGHUP in WaitUntilOrSignal asks for a reload (TakeReload) instead of a stop.
  void ReloadOnHangup();
  // True once for each SIGHUP taken as a reload.
  bool TakeReload();
  std::string Reason() const;
  bool Failed() const;
  // Stopped by the first request: a step that blocks (a sourcetable fetch) ends on it.
  std::stop_token Token() const { return source_.get_token(); }

  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

 private:
  bool Requested() const;
  // Ends a WaitUntilOrSignal of another thread after a request.
  void WakeSignalWait();

  const int wake_fd_;       // eventfd: readable once requested (POSIX)
  const int signal_fd_;     // signalfd of SIGINT, SIGTERM and SIGHUP (POSIX)
  bool signalled_ = false;  // under mutex_
  bool reload_on_hangup_ = false, reload_pending_ = false;  // under mutex_
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
  bool failed_ = false;
  std::string reason_;
  std::stop_source source_;
};

// Waits for SIGINT/SIGTERM/SIGHUP on its own thread. The first signal calls `on_signal` with its
// name; a second one ends the process at once (the user insists).
class SignalWatcher {
 public:
  // `first_taken`: the first signal came already (to a StopRequest's wait); the next one ends the
  // process.
  explicit SignalWatcher(std::function<void(const std::string&)> on_signal,
                         bool first_taken = false);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Run(std::stop_token stop);

  const std::function<void(const std::string&)> on_signal_;
  const bool first_taken_;
  std::jthread thread_;
};

// Bounds the shutdown: if Done() is not called within `limit` of construction, says so on stderr
// and ends the process with status 1, so that a component that does not stop cannot keep the
// program alive.
class ShutdownDeadline {
 public:
  explicit ShutdownDeadline(std::chrono::milliseconds limit);
  ~ShutdownDeadline();  // Done()
  ShutdownDeadline(const ShutdownDeadline&) = delete;
  ShutdownDeadline& operator=(const ShutdownDeadline&) = delete;
  void Done();

 private:
  std::mutex mutex_;
  std::condition_variable_any done_cv_;
  std::jthread thread_;
};

}  // namespace ntrip_host
