#include "kernel.h"

#include "instance.h"

namespace maps_host {
namespace {

class EngineKernelImpl final : public MAPS::Kernel {
 public:
  bool GetBoolProperty(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).ReadBool(name);
  }
  double GetFloatProperty(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).ReadFloat(name);
  }
  std::int64_t GetIntegerProperty(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).ReadInteger(name);
  }
  std::string GetStringProperty(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).ReadString(name);
  }
  MAPS::InputHandle* FindInput(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).FindInput(name);
  }
  MAPS::OutputHandle* FindOutput(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).FindOutput(name);
  }
  MAPSIOElt* StartWriting(MAPS::OutputHandle* output) override {
    return Instance::StartWriting(output);
  }
  void StopWriting(MAPSIOElt* element, bool discard) override {
    Instance::StopWriting(element, discard);
  }
  void Report(MAPS::InstanceHandle* instance, MAPS::ReportKind kind,
              const std::string& text) override {
    Instance::FromHandle(instance).Report(kind, text);
  }
  bool IsStopping(MAPS::InstanceHandle* instance) override {
    // The component's loops ask once a pass: that is their sign of life for a watchdog.
    Instance::FromHandle(instance).MarkProgress();
    return Instance::FromHandle(instance).IsStopping();
  }
  std::uint32_t EngineState(MAPS::InstanceHandle* instance) override {
    return Instance::FromHandle(instance).IsStopping() ? MAPS::kEngineStateStopping : 0U;
  }
  std::string InstanceName(MAPS::InstanceHandle* instance) override {
    return Instance::FromHandle(instance).Name();
  }
  double TimeScale(MAPS::InstanceHandle* instance) override {
    return Instance::FromHandle(instance).TimeScale();
  }
  std::shared_ptr<void> HostObject(MAPS::InstanceHandle* instance, const char* name) override {
    return Instance::FromHandle(instance).HostObject(name);
  }
  MAPS::ReaderHandle* CreateReader(MAPS::InstanceHandle* instance,
                                   MAPS::ReaderSettings settings) override {
    return Instance::FromHandle(instance).CreateReader(std::move(settings));
  }
  int Read(MAPS::ReaderHandle* reader) override { return Instance::Read(reader); }
  void DestroyReader(MAPS::ReaderHandle* reader) override { Instance::DestroyReader(reader); }
};

}  // namespace

MAPS::Kernel& EngineKernel() {
  static EngineKernelImpl kernel;
  return kernel;
}

}  // namespace maps_host
