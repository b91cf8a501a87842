// The per-connection records, written by the serving thread and read by tests at any time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "replay_caster.h"

namespace caster {

class RecordBook {
 public:
  std::size_t Add() {
    std::size_t index = 0;
    {
      std::scoped_lock lock(mutex_);
      records_.emplace_back();
      index = records_.size() - 1;
      ++version_;
    }
    changed_.notify_all();
    return index;
  }

  template <typename Change>
  void Update(std::size_t index, Change&& change) {
    {
      std::scoped_lock lock(mutex_);
      change(records_.at(index));
      ++version_;
    }
    changed_.notify_all();
  }

  void CloseAll() {
    {
      std::scoped_lock lock(mutex_);
      for (auto& record : records_) record.closed = true;
      ++version_;
    }
    changed_.notify_all();
  }

  std::size_t Count() const {
    std::scoped_lock lock(mutex_);
    return records_.size();
  }

  ConnectionRecord Snapshot(std::size_t index) const {
    std::scoped_lock lock(mutex_);
    if (index >= records_.size()) return ConnectionRecord{};
    return records_[index];
  }

  // The predicate runs without the lock held: it may read the records itself.
  bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline) const {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      std::uint64_t seen = 0;
      {
        std::scoped_lock lock(mutex_);
        seen = version_;
      }
      if (pred()) return true;
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, until, [&] { return version_ != seen; })) {
        lock.unlock();
        return pred();
      }
    }
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ConnectionRecord> records_;
  std::uint64_t version_ = 0;
};

}  // namespace caster
