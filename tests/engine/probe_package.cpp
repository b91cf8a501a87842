// A package for the host's own tests: the "HostProbe" model shows through its outputs and
// reports what the host did to it. Its `mode` property picks the behaviour.
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "maps_sdk.h"

namespace {

enum Mode { kSample = 0, kBurst = 1, kOverflow = 2, kReportProperties = 3, kFailBirth = 4 };

constexpr MAPS::InputDefinition kInputs[] = {{"iValues", MAPS::kTypeFloat64Vector}};

constexpr MAPS::OutputDefinition kOutputs[] = {
    {"oEvents", MAPS::kTypeBytes, "", "", 64, 4, {1, 1}},
    {"oSmall", MAPS::kTypeBytes, "", "", 8, 2, {1, 1}},
};

constexpr MAPS::PropertyDefinition kProperties[] = {
    {"mode", MAPS::PropertyKind::Enumeration, "Sample|Burst|Overflow|Properties|FailBirth", 0,
     MAPS::kSubTypeNone, ""},
    {"allow_empty", MAPS::PropertyKind::Boolean, "false", 0, MAPS::kSubTypeNone, ""},
    {"period_us", MAPS::PropertyKind::Integer, "1000000", 0, MAPS::kSubTypeNone, ""},
    {"burst_count", MAPS::PropertyKind::Integer, "20", 0, MAPS::kSubTypeNone, ""},
    {"ratio", MAPS::PropertyKind::Float, "0.5", 0, MAPS::kSubTypeNone, ""},
    {"label", MAPS::PropertyKind::String, "probe", 0, MAPS::kSubTypeNone, ""},
    {"flag", MAPS::PropertyKind::Boolean, "true", 0, MAPS::kSubTypeNone, ""},
    {"folder", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypePathCheck | MAPS::kSubTypeDirectory,
     ""},
};

class HostProbe : public MAPSComponent {
 public:
  explicit HostProbe(MAPS::InstanceHandle* instance) : MAPSComponent(instance) {}
  ~HostProbe() override { ReportInfo("Destroyed"); }

  void Birth() override {
    ReportInfo("Birth");
    mode_ = GetIntegerProperty("mode");
    if (mode_ == kFailBirth) throw MAPS::kErrorSignal;
    if (mode_ == kReportProperties) ReportProperties();
    reader_ = MAPS::CreateInputReader(
        *this, MAPS::InputReaderPolicy::PeriodicSampling, GetIntegerProperty("period_us"),
        GetBoolProperty("allow_empty"), {FindInput("iValues")},
        [this](std::int64_t timestamp, MAPS::InputElt<double> sample) {
          OnSample("first", timestamp, sample);
        },
        [this](std::int64_t timestamp, MAPS::InputElt<double> sample) {
          OnSample("each", timestamp, sample);
        });
  }

  void Core() override {
    if (!wrote_ && mode_ == kBurst) WriteBurst();
    if (!wrote_ && mode_ == kOverflow) WriteOverflow();
    wrote_ = true;
    const int result = maps_input_reader_read(reader_.get());
    if (result == MAPS::kReadStopped) throw MAPS::kStopSignal;
    if ((result >= -14 && result <= -11) || result == -2 || result == -1) {
      throw(EngineState() & MAPS::kEngineStateStopping) != 0 ? MAPS::kStopSignal
                                                             : MAPS::kErrorSignal;
    }
  }

  void Banzai() override { ReportInfo("Banzai"); }

  void Death() override {
    reader_.reset();
    ReportInfo("Death");
  }

 private:
  void Write(const char* output, const std::string& text) {
    MAPSIOElt* element = StartWriting(FindOutput(output));
    std::memcpy(element->Data(), text.data(), text.size());
    element->VectorSize(text.size());
    StopWriting(element);
  }

  void OnSample(const char* which, std::int64_t timestamp, const MAPS::InputElt<double>& sample) {
    if (sample.DataPointer(0) == nullptr) {
      Write("oEvents", std::string(which) + " empty");
      return;
    }
    const double value = sample.DataPointer(0)[0];
    if (value < 0) throw std::runtime_error("negative sample");
    Write("oEvents",
          std::string(which) + " " + std::to_string(value) + " " + std::to_string(timestamp));
  }

  void WriteBurst() {
    const std::int64_t count = GetIntegerProperty("burst_count");
    for (std::int64_t i = 0; i < count; ++i) {
      ReportInfo("writing n" + std::to_string(i));
      Write("oEvents", "n" + std::to_string(i));
    }
  }

  void WriteOverflow() {
    MAPSIOElt* element = StartWriting(FindOutput("oSmall"));
    std::memset(element->Data(), 'x', element->BufferSize());
    element->VectorSize(element->BufferSize() + 1);
    try {
      StopWriting(element);
    } catch (int signal) {
      Write("oEvents", "overflow caught " + std::to_string(signal));
    }
    Write("oSmall", "12345678");
  }

  void ReportProperties() {
    ReportInfo("bool=" + std::to_string(GetBoolProperty("flag")) +
               " int=" + std::to_string(GetIntegerProperty("burst_count")) +
               " float=" + std::to_string(GetFloatProperty("ratio")) +
               " enum=" + std::to_string(GetIntegerProperty("mode")) +
               " string=" + GetStringProperty("label") + " enum-text=" + GetStringProperty("mode") +
               " name=" + InstanceName());
    try {
      GetBoolProperty("label");
    } catch (int signal) {
      ReportInfo("wrong kind signal " + std::to_string(signal));
    }
    try {
      GetStringProperty("no_such_property");
    } catch (int signal) {
      ReportInfo("unknown property signal " + std::to_string(signal));
    }
  }

  std::int64_t mode_ = kSample;
  bool wrote_ = false;
  std::unique_ptr<MAPS::InputReader> reader_;
};

MAPSComponent* CreateProbe(MAPS::InstanceHandle* instance) {
  return new HostProbe(instance);
}

const MAPS::ModuleDefinition kProbeDefinition = {
    "HostProbe", "0.1", "HostProbe", "MAPSComponent", "host probe", kInputs, kOutputs, kProperties,
    128,         0,     1,           CreateProbe,
};
const MAPS::ModuleDefinition* const kModules[] = {&kProbeDefinition};
const MAPS::ModuleList kModuleList = {kModules};

}  // namespace

extern "C" MAPS_PACKAGE_EXPORT int MAPSPckInit(MAPS::Kernel* kernel, int interface_version) {
  return MAPS::InstallKernel(kernel, interface_version);
}

extern "C" MAPS_PACKAGE_EXPORT const MAPS::ModuleList* MAPSGetModulesDefStruct() {
  return &kModuleList;
}
