// The watchdog of a service run: a thread that stops passing its checkpoints is named once, by
// its role, before the pings stop.
#include <cstdlib>

#include <gtest/gtest.h>

#include "notify_socket.h"
#include "scratch_directory.h"
#include "service_notifier.h"

namespace {

using namespace std::chrono_literals;
using ntrip_host::ServiceNotifier;
using Clock = std::chrono::steady_clock;

TEST(ServiceWatchdog, AThreadSilentPastTheBoundIsNamedOnceAndThePingsStop) {
  test_support::ScratchDirectory scratch;
  host_test::NotifySocket manager(scratch.Path() / "notify");
  setenv("NOTIFY_SOCKET", manager.Path().c_str(), 1);
  setenv("WATCHDOG_USEC", "200000", 1);  // a ping every 0.1 s
  std::mutex mutex;
  std::vector<std::string> said;
  {
    ServiceNotifier notifier(
        [&](const std::string& line) {
          std::scoped_lock lock(mutex);
          said.push_back(line);
        },
        1s);
    notifier.Ready("connecting");
    ASSERT_TRUE(manager.WaitFor("WATCHDOG=1", 5s, 3));
    // The main loop goes on; the raw writer has passed no checkpoint for 0.9 s.
    notifier.Tick(Clock::now(), "connected", ServiceNotifier::Laggard{900ms, "ntrip-raw-wr"});
    ASSERT_TRUE(manager.WaitFor("STATUS=hung: the raw writer passed no checkpoint for 1 s", 5s));
    notifier.Tick(Clock::now(), "connected", ServiceNotifier::Laggard{2s, "ntrip-raw-wr"});
  }
  unsetenv("NOTIFY_SOCKET");
  unsetenv("WATCHDOG_USEC");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].rfind("the raw writer passed no checkpoint for 1 s", 0), 0u) << said[0];
  const std::vector<std::string> messages = manager.Messages();
  const auto hung = std::find_if(messages.begin(), messages.end(), [](const std::string& m) {
    return m.starts_with("STATUS=hung: ");
  });
  ASSERT_NE(hung, messages.end());
  EXPECT_EQ(std::count(hung, messages.end(), "WATCHDOG=1"), 0);
}

}  // namespace
