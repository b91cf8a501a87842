#pragma once
// The running component as the position feed sees it: the host replaces the instance when it
// switches sources, while the feed keeps pushing samples from its own thread.
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "engine_names.h"

namespace ntrip_host {

class ComponentSlot {
 public:
  explicit ComponentSlot(std::string_view input) : input_(input) {}

  // The feeder's thread: to the current instance, if any, and kept for the next one.
  void Push(const std::vector<double>& sample);
  // The main thread. Attach hands the latest sample at once, so a new instance need not wait a
  // period of the feed for its first position.
  void Attach(Instance& instance);
  // Returns the instance that was attached (null when none); it gets no more samples, so its
  // owner may stop and destroy it without holding the slot.
  Instance* Detach();
  // The latest sample the feed gave, if any.
  std::optional<std::vector<double>> Latest();

 private:
  const std::string_view input_;
  std::mutex mutex_;
  Instance* current_ = nullptr;
  std::optional<std::vector<double>> latest_;
};

}  // namespace ntrip_host
