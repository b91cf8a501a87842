#pragma once
// The engine's kernel interface: every host operation a package may call. The engine implements
// it; MAPSPckInit hands it to the package, whose SDK glue (maps_sdk) calls nothing else. Neither
// side links the other, so this abstract class is the whole contract between them.
// Component authors use maps_sdk.h instead.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "maps_sdk.h"

namespace MAPS {

struct ReaderSettings {
  InputReaderPolicy policy = InputReaderPolicy::PeriodicSampling;
  std::int64_t period_us = 0;
  bool allow_empty_inputs = false;
  std::vector<InputHandle*> inputs;
  SampleCallback first_time;
  SampleCallback each_sample;
};

class Kernel {
 public:
  // Property getters; see MAPSComponent for the conversions. Failures: report, kErrorSignal.
  virtual bool GetBoolProperty(InstanceHandle* instance, const char* name) = 0;
  virtual double GetFloatProperty(InstanceHandle* instance, const char* name) = 0;
  virtual std::int64_t GetIntegerProperty(InstanceHandle* instance, const char* name) = 0;
  virtual std::string GetStringProperty(InstanceHandle* instance, const char* name) = 0;

  virtual InputHandle* FindInput(InstanceHandle* instance, const char* name) = 0;
  virtual OutputHandle* FindOutput(InstanceHandle* instance, const char* name) = 0;
  virtual MAPSIOElt* StartWriting(OutputHandle* output) = 0;
  virtual void StopWriting(MAPSIOElt* element, bool discard) = 0;

  virtual void Report(InstanceHandle* instance, ReportKind kind, const std::string& text) = 0;
  virtual bool IsStopping(InstanceHandle* instance) = 0;
  virtual std::uint32_t EngineState(InstanceHandle* instance) = 0;
  virtual std::string InstanceName(InstanceHandle* instance) = 0;
  virtual double TimeScale(InstanceHandle* instance) = 0;
  virtual std::shared_ptr<void> HostObject(InstanceHandle* instance, const char* name) = 0;

  // Returns null (after an error report) when the settings are unusable.
  virtual ReaderHandle* CreateReader(InstanceHandle* instance, ReaderSettings settings) = 0;
  virtual int Read(ReaderHandle* reader) = 0;
  virtual void DestroyReader(ReaderHandle* reader) = 0;

 protected:
  Kernel() = default;
  virtual ~Kernel() = default;
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;
};

}  // namespace MAPS
