#pragma once
// The FIFO of one output: at most `capacity` elements are written or waiting for the consumer.
// A full FIFO makes the writer wait for room (or for the stop); nothing is ever dropped.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "maps_sdk.h"

namespace maps_host {

struct OutputElement {
  std::vector<unsigned char> data;  // VectorSize bytes
  std::int64_t timestamp = 0;
};

class OutputFifo {
 public:
  OutputFifo(MAPS::OutputHandle* handle, std::size_t buffer_size, std::size_t capacity);

  // A fresh element with a buffer of the output's buffer size; waits while the FIFO is full.
  // Throws MAPS::kStopSignal once the stop's drain is over.
  MAPSIOElt* Acquire();

  enum class Release { Published, Discarded, Overflow, Foreign };
  // Takes the element back. An element whose VectorSize exceeds its buffer is dropped (Overflow);
  // one this FIFO never gave out is left alone (Foreign).
  Release Give(MAPSIOElt* element, bool discard, std::int64_t now_us);
  // As Give, but a published element comes back in `taken` instead of joining the FIFO: the
  // caller hands it on in the writer's own thread. Its bytes move out of the element, uncopied.
  Release Take(MAPSIOElt* element, bool discard, std::int64_t now_us, OutputElement& taken);

  // Writers may still publish what they hold until `drain_end`; then, and at once for writers
  // waiting for room past it, they get the stop signal.
  void RequestStop(std::chrono::steady_clock::time_point drain_end = {});
  // No writer will come any more: consumers stop waiting once the FIFO is empty.
  void Close();

  // The oldest published element; waits until `deadline`. Nothing when the deadline passes, or at
  // once when the FIFO is closed and empty.
  std::optional<OutputElement> Pop(std::chrono::steady_clock::time_point deadline);

 private:
  // Takes `element` out of the in-flight ones into `owned`; Foreign or Overflow when it cannot
  // be published. With mutex_ held.
  Release Reclaim(MAPSIOElt* element, bool discard, std::unique_ptr<MAPSIOElt>& owned);
  static OutputElement Published(MAPSIOElt& element, std::int64_t now_us);

  MAPS::OutputHandle* const handle_;
  const std::size_t buffer_size_;
  const std::size_t capacity_;

  mutable std::mutex mutex_;
  std::condition_variable room_cv_;
  std::condition_variable data_cv_;
  std::deque<OutputElement> published_;
  std::vector<std::unique_ptr<MAPSIOElt>> in_flight_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point drain_end_{};
  bool closed_ = false;
};

}  // namespace maps_host
