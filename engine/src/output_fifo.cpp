#include "output_fifo.h"

#include <algorithm>

namespace maps_host {

OutputFifo::OutputFifo(MAPS::OutputHandle* handle, std::size_t buffer_size, std::size_t capacity)
    : handle_(handle), buffer_size_(buffer_size), capacity_(capacity) {}

MAPSIOElt* OutputFifo::Acquire() {
  std::unique_lock lock(mutex_);
  const auto has_room = [&] { return published_.size() + in_flight_.size() < capacity_; };
  room_cv_.wait(lock, [&] { return stopping_ || has_room(); });
  if (stopping_ && !room_cv_.wait_until(lock, drain_end_, has_room)) throw MAPS::kStopSignal;
  if (stopping_ && std::chrono::steady_clock::now() >= drain_end_) throw MAPS::kStopSignal;
  in_flight_.push_back(std::make_unique<MAPSIOElt>(handle_, buffer_size_));
  return in_flight_.back().get();
}

OutputFifo::Release OutputFifo::Reclaim(MAPSIOElt* element, bool discard,
                                        std::unique_ptr<MAPSIOElt>& owned) {
  const auto found = std::find_if(in_flight_.begin(), in_flight_.end(),
                                  [&](const auto& held) { return held.get() == element; });
  if (found == in_flight_.end()) return Release::Foreign;
  owned = std::move(*found);
  in_flight_.erase(found);
  if (owned->VectorSize() > owned->BufferSize()) return Release::Overflow;
  return discard ? Release::Discarded : Release::Published;
}

OutputElement OutputFifo::Published(MAPSIOElt& element, std::int64_t now_us) {
  OutputElement published;
  published.timestamp = element.Timestamp() != 0 ? element.Timestamp() : now_us;
  published.data = element.TakeBytes();
  return published;
}

OutputFifo::Release OutputFifo::Give(MAPSIOElt* element, bool discard, std::int64_t now_us) {
  std::unique_lock lock(mutex_);
  std::unique_ptr<MAPSIOElt> owned;
  const Release result = Reclaim(element, discard, owned);
  if (result == Release::Published) published_.push_back(Published(*owned, now_us));
  lock.unlock();
  if (result == Release::Published) data_cv_.notify_all();
  if (result != Release::Published) room_cv_.notify_all();
  return result;
}

OutputFifo::Release OutputFifo::Take(MAPSIOElt* element, bool discard, std::int64_t now_us,
                                     OutputElement& taken) {
  std::unique_lock lock(mutex_);
  std::unique_ptr<MAPSIOElt> owned;
  const Release result = Reclaim(element, discard, owned);
  lock.unlock();
  if (result == Release::Foreign) return result;
  room_cv_.notify_all();
  if (result == Release::Published) taken = Published(*owned, now_us);
  return result;
}

void OutputFifo::RequestStop(std::chrono::steady_clock::time_point drain_end) {
  {
    std::scoped_lock lock(mutex_);
    stopping_ = true;
    drain_end_ = drain_end;
  }
  room_cv_.notify_all();
}

void OutputFifo::Close() {
  {
    std::scoped_lock lock(mutex_);
    closed_ = true;
  }
  data_cv_.notify_all();
}

std::optional<OutputElement> OutputFifo::Pop(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!data_cv_.wait_until(lock, deadline, [&] { return !published_.empty() || closed_; }) ||
      published_.empty()) {
    return std::nullopt;
  }
  OutputElement element = std::move(published_.front());
  published_.pop_front();
  lock.unlock();
  room_cv_.notify_all();
  return element;
}

}  // namespace maps_host
