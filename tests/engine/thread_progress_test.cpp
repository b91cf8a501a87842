// The watchdog's view of an instance's threads: a hung thread shows, an ended one does not.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "thread_progress.h"

namespace maps_host {
namespace {

using namespace std::chrono_literals;
using Clock = ThreadProgress::Clock;

// A thread that passes one checkpoint and then waits until released.
class QuietThread {
 public:
  explicit QuietThread(ThreadProgress& progress)
      : thread_([this, &progress] {
          progress.Mark();
          std::unique_lock lock(mutex_);
          marked_ = true;
          changed_.notify_all();
          changed_.wait(lock, [this] { return released_; });
        }) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return marked_; });
  }
  void End() {
    {
      std::scoped_lock lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool marked_ = false, released_ = false;
  std::thread thread_;
};

TEST(ThreadProgress, AQuietThreadIsTheLaggardUntilItEndsAndThenLeavesTheWatch) {
  ThreadProgress progress;
  EXPECT_FALSE(progress.LongestSilence(Clock::now()));
  // The writer threads of earlier connections: gone, so never taken for hung.
  for (int connection = 0; connection < 3; ++connection) {
    std::thread([&progress] { progress.Mark(); }).join();
  }
  EXPECT_FALSE(progress.LongestSilence(Clock::now()));

  QuietThread hung(progress);
  const auto silence = progress.LongestSilence(Clock::now() + 60s);
  ASSERT_TRUE(silence);
  EXPECT_GE(silence->duration, 60s);
  hung.End();
  EXPECT_FALSE(progress.LongestSilence(Clock::now() + 60s));
}

TEST(ThreadProgress, AThreadMayOutliveTheWatchItJoined) {
  auto progress = std::make_unique<ThreadProgress>();
  QuietThread thread(*progress);
  progress.reset();
  thread.End();  // leaves a watch that is gone: nothing to touch
}

}  // namespace
}  // namespace maps_host
