#include "component_slot.h"

namespace ntrip_host {

void ComponentSlot::Push(const std::vector<double>& sample) {
  std::scoped_lock lock(mutex_);
  latest_ = sample;
  if (current_ != nullptr) current_->PushSample(input_, sample);
}

void ComponentSlot::Attach(Instance& instance) {
  std::scoped_lock lock(mutex_);
  current_ = &instance;
  if (latest_) current_->PushSample(input_, *latest_);
}

Instance* ComponentSlot::Detach() {
  std::scoped_lock lock(mutex_);
  Instance* const detached = current_;
  current_ = nullptr;
  return detached;
}

std::optional<std::vector<double>> ComponentSlot::Latest() {
  std::scoped_lock lock(mutex_);
  return latest_;
}

}  // namespace ntrip_host
