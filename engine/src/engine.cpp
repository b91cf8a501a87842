#include "engine.h"

#include <cmath>
#include <stdexcept>

#include "kernel.h"

namespace maps_host {

Engine::Engine(EngineOptions options)
    : options_(std::move(options)),
      origin_(std::chrono::steady_clock::now()),
      reports_(options_.report_sink) {
  if (!std::isfinite(options_.sampling_period_scale) || options_.sampling_period_scale < 0) {
    throw std::invalid_argument("the sampling period scale is a finite number, 0 or more");
  }
}

Engine::~Engine() {
  std::list<std::unique_ptr<Instance>> instances;
  {
    std::scoped_lock lock(mutex_);
    instances.swap(instances_);
  }
  instances.clear();  // each stops its component first
  std::scoped_lock lock(mutex_);
  packages_.clear();
}

const Package& Engine::LoadPackage(const std::filesystem::path& path) {
  std::shared_ptr<const Package> package = Package::Load(path, EngineKernel());
  std::scoped_lock lock(mutex_);
  packages_.push_back(package);
  return *package;
}

void Engine::UnloadPackages() {
  std::scoped_lock lock(mutex_);
  packages_.clear();
}

const MAPS::ModuleDefinition* Engine::FindModel(std::string_view model) const {
  std::scoped_lock lock(mutex_);
  for (const auto& package : packages_) {
    if (const MAPS::ModuleDefinition* found = package->FindModel(model)) return found;
  }
  return nullptr;
}

Instance& Engine::CreateInstance(std::string_view model, std::string instance_name) {
  std::scoped_lock lock(mutex_);
  for (const auto& instance : instances_) {
    if (instance->Name() == instance_name) {
      throw std::invalid_argument("An instance named " + instance_name + " exists already");
    }
  }
  for (const auto& package : packages_) {
    if (const MAPS::ModuleDefinition* definition = package->FindModel(model)) {
      instances_.push_back(std::make_unique<Instance>(
          package, *definition, std::move(instance_name),
          Instance::Settings{options_.sampling_period_scale, origin_}, reports_));
      return *instances_.back();
    }
  }
  throw std::invalid_argument("No loaded package declares the model " + std::string(model));
}

void Engine::DestroyInstance(Instance& instance) {
  std::unique_ptr<Instance> doomed;
  {
    std::scoped_lock lock(mutex_);
    for (auto it = instances_.begin(); it != instances_.end(); ++it) {
      if (it->get() == &instance) {
        doomed = std::move(*it);
        instances_.erase(it);
        break;
      }
    }
  }
  // Stopping may take a while; not under the engine's lock.
  doomed.reset();
}

}  // namespace maps_host
