#pragma once
// Which threads of an instance still pass their checkpoints: a watchdog needs to tell a component
// that works from one whose thread hangs. A thread joins the watch at its first checkpoint and
// leaves it when it ends, so the threads of earlier connections do not count as hung.
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace maps_host {

class ThreadProgress {
 public:
  using Clock = std::chrono::steady_clock;

  ThreadProgress();

  // The calling thread has passed a checkpoint now.
  void Mark();
  struct Silence {
    Clock::duration duration{};
    std::string thread;  // the laggard's name for the system, as it was at its first checkpoint
  };
  // How long the laggard among the live watched threads has been silent; none while none is
  // watched.
  std::optional<Silence> LongestSilence(Clock::time_point now) const;

  // Shared with the watched threads, which take their entry out when they end, even when that
  // happens after this object is gone.
  struct Marks {
    std::mutex mutex;
    struct Entry {
      Clock::time_point at;
      std::string name;
    };
    std::map<std::thread::id, Entry> last;
  };

 private:
  std::shared_ptr<Marks> marks_;
};

}  // namespace maps_host
