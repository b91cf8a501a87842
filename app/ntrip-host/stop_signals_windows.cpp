// The stop signals on Windows: the console's control events (Ctrl-C, Ctrl-Break, closing the
// console, logoff, shutdown). The system calls the handler on a thread of its own; the handler
// only queues the event, and the program takes it where POSIX takes a signal.
#include "stop_control.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace ntrip_host {

namespace {

struct ConsoleEvents {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<unsigned long> pending;
};

// Process-wide, as the console and its handler are.
ConsoleEvents& Events() {
  static ConsoleEvents events;
  return events;
}

std::string EventName(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "console close";
    case CTRL_LOGOFF_EVENT:
      return "logoff";
    default:
      return "shutdown";
  }
}

// Windows ends the process once the handler of a close, logoff or shutdown returns: it holds on
// for the drain and the stop line (the system's own limit is 5 s), and the program's exit ends it.
constexpr DWORD kCloseGraceMilliseconds = 4500;

BOOL WINAPI ConsoleHandler(DWORD event) {
  return OnConsoleEvent(event) ? TRUE : FALSE;
}

// A console event's slice: how late a request made by another thread is seen at the latest.
constexpr auto kSlice = std::chrono::milliseconds(100);

}  // namespace

bool OnConsoleEvent(unsigned long event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
    return false;
  }
  ConsoleEvents& events = Events();
  {
    std::scoped_lock lock(events.mutex);
    events.pending.push_back(event);
  }
  events.arrived.notify_all();
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(kCloseGraceMilliseconds);
  return true;
}

void TakeOverStopSignals() {
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

std::optional<std::string> WaitForStopSignal(std::chrono::milliseconds limit) {
  ConsoleEvents& events = Events();
  std::unique_lock lock(events.mutex);
  if (!events.arrived.wait_for(lock, limit, [&] { return !events.pending.empty(); })) {
    return std::nullopt;
  }
  const unsigned long event = events.pending.front();
  events.pending.pop_front();
  return EventName(event);
}

StopRequest::StopRequest() : wake_fd_(-1), signal_fd_(-1) {}

StopRequest::~StopRequest() = default;

// WaitUntilOrSignal looks at the request between slices.
void StopRequest::WakeSignalWait() {}

bool StopRequest::WaitUntilOrSignal(Clock::time_point deadline) {
  while (!WaitUntil(std::min(deadline, Clock::now() + kSlice))) {
    if (const std::optional<std::string> name = WaitForStopSignal(std::chrono::milliseconds(0))) {
      {
        std::scoped_lock lock(mutex_);
        signalled_ = true;
      }
      Request("received " + *name);
      return true;
    }
    if (Clock::now() >= deadline) return false;
  }
  return true;
}

}  // namespace ntrip_host
