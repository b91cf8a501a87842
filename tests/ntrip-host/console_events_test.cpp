// Windows: the console's control events stop a run as SIGINT, SIGTERM and SIGHUP do on POSIX.
// Ctrl-C itself is sent to the real program under Wine by CI; Wine cannot send the others, so
// they go through the handler here.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "stop_control.h"

namespace {

using namespace std::chrono_literals;
using ntrip_host::StopRequest;

TEST(ConsoleEvents, CtrlBreakAndClosingTheConsoleEndTheRunAsASignal) {
  const std::pair<unsigned long, std::string> events[] = {
      {CTRL_BREAK_EVENT, "received Ctrl-Break"}, {CTRL_CLOSE_EVENT, "received console close"}};
  for (const auto& [event, reason] : events) {
    StopRequest stop;
    bool taken = false;
    // The system calls the handler on a thread of its own, and a close's handler holds on.
    std::thread handler([&, event = event] { taken = ntrip_host::OnConsoleEvent(event); });
    EXPECT_TRUE(stop.WaitUntilOrSignal(StopRequest::Clock::now() + 10s)) << reason;
    handler.join();
    EXPECT_TRUE(taken) << reason;
    EXPECT_TRUE(stop.Signalled()) << reason;
    EXPECT_EQ(stop.Reason(), reason);
  }
}

}  // namespace
