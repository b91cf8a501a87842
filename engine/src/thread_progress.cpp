#include "thread_progress.h"

#include "thread_name.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <vector>

namespace maps_host {

namespace {

// The watches the current thread has joined; its end takes it out of each one still there.
struct JoinedWatches {
  std::vector<std::weak_ptr<ThreadProgress::Marks>> watches;

  bool Has(const std::shared_ptr<ThreadProgress::Marks>& marks) const {
    return std::any_of(watches.begin(), watches.end(), [&](const auto& watch) {
      return !watch.owner_before(marks) && !marks.owner_before(watch);
    });
  }

  ~JoinedWatches() {
    const std::thread::id self = std::this_thread::get_id();
    for (const auto& watch : watches) {
      if (const auto marks = watch.lock()) {
        std::scoped_lock lock(marks->mutex);
        marks->last.erase(self);
      }
    }
  }
};

extern "C" void LeaveJoinedWatches(void* joined) {
  delete static_cast<JoinedWatches*>(joined);
}

// The list sits on the heap behind a thread key rather than in a thread_local object: MinGW's
// runtime frees a thread's thread_local storage before it runs the destructors of the objects
// in it, while a key's destructor is handed its value.
JoinedWatches& Joined() {
  static const pthread_key_t key = [] {
    pthread_key_t created{};
    if (pthread_key_create(&created, LeaveJoinedWatches) != 0) throw std::bad_alloc();
    return created;
  }();
  auto* joined = static_cast<JoinedWatches*>(pthread_getspecific(key));
  if (joined == nullptr) {
    joined = new JoinedWatches;
    pthread_setspecific(key, joined);
  }
  return *joined;
}

}  // namespace

ThreadProgress::ThreadProgress() : marks_(std::make_shared<Marks>()) {}

void ThreadProgress::Mark() {
  JoinedWatches& joined = Joined();
  if (!joined.Has(marks_)) {
    // Bounded: drops the entries of watches that are gone before adding one.
    std::erase_if(joined.watches, [](const auto& watch) { return watch.expired(); });
    joined.watches.push_back(marks_);
  }
  const Clock::time_point now = Clock::now();
  std::scoped_lock lock(marks_->mutex);
  const auto [entry, joined_now] = marks_->last.try_emplace(std::this_thread::get_id());
  if (joined_now) entry->second.name = CurrentThreadName();
  entry->second.at = now;
}

std::optional<ThreadProgress::Silence> ThreadProgress::LongestSilence(
    Clock::time_point now) const {
  std::scoped_lock lock(marks_->mutex);
  if (marks_->last.empty()) return std::nullopt;
  const auto laggard = std::min_element(
      marks_->last.begin(), marks_->last.end(),
      [](const auto& a, const auto& b) { return a.second.at < b.second.at; });
  return Silence{now - std::min(now, laggard->second.at), laggard->second.name};
}

}  // namespace maps_host
