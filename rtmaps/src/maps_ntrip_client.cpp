#include "maps_ntrip_client.h"

namespace {

constexpr MAPS::InputDefinition kInputs[] = {
    {"iGPSPos", MAPS::kTypeFloat64Vector},
};

constexpr MAPS::OutputDefinition kOutputs[] = {
    {"oRawRTCM", MAPS::kTypeBytes, "", "", 2048, 16, {1, 1}},
    {"oDecodeRTCM", MAPS::kTypeBytes, "", "", 2048, 16, {1, 1}},
};

constexpr MAPS::PropertyDefinition kProperties[] = {
    {"decode_rtcm", MAPS::PropertyKind::Boolean, "true", 0, MAPS::kSubTypeNone, ""},
    {"log_destination", MAPS::PropertyKind::Enumeration, "Log|Console|Nothing", 0,
     MAPS::kSubTypeNone, ""},
    {"logging_path", MAPS::PropertyKind::String, "R:", 0,
     MAPS::kSubTypePathCheck | MAPS::kSubTypeDirectory, ""},
    {"ip", MAPS::PropertyKind::String, "rtk2go.com", 0, MAPS::kSubTypeNone, ""},
    {"port", MAPS::PropertyKind::String, "2100", 0, MAPS::kSubTypeNone, ""},
    {"mountpoint", MAPS::PropertyKind::String, "CASTER", 0, MAPS::kSubTypeNone, ""},
    {"username", MAPS::PropertyKind::String, "tarnotesting", 0, MAPS::kSubTypeNone, ""},
    {"password", MAPS::PropertyKind::String, "Hq4vLr8ZtWm2", 0, MAPS::kSubTypeNone, ""},
    {"position_accuracy", MAPS::PropertyKind::Float, "0.1", 0, MAPS::kSubTypeNone, ""},
};

constexpr int kPriority = 128;
constexpr int kHostSetting = 3;
constexpr int kThreaded = 1;

MAPSComponent* CreateNtripClient(MAPS::InstanceHandle* instance) {
  return new MAPS_NTRIP_Client(instance);
}

}  // namespace

const MAPS::ModuleDefinition kNtripClientDefinition = {
    "NTRIP_Client",
    "1.0",
    "MAPS_NTRIP_Client",
    "MAPSComponent",
    "$!MAPS_MODULE!MAPSComponent!NTRIP_Client!$!1.0!$",
    kInputs,
    kOutputs,
    kProperties,
    kPriority,
    kHostSetting,
    kThreaded,
    CreateNtripClient,
};

MAPS_NTRIP_Client::MAPS_NTRIP_Client(MAPS::InstanceHandle* instance) : MAPSComponent(instance) {}

MAPS_NTRIP_Client::~MAPS_NTRIP_Client() = default;

// Until the client is built this component only samples its input and ignores every sample:
// nothing is connected, nothing is written.
void MAPS_NTRIP_Client::Birth() {
  _input_reader = MAPS::CreateInputReader(
      *this, MAPS::InputReaderPolicy::PeriodicSampling, 1000000, false, {FindInput("iGPSPos")},
      [](std::int64_t, MAPS::InputElt<double>) {}, [](std::int64_t, MAPS::InputElt<double>) {});
}

void MAPS_NTRIP_Client::Core() {
  const int result = maps_input_reader_read(_input_reader.get());
  if (result == MAPS::kReadStopped) throw MAPS::kStopSignal;
  const bool failed = (result >= -14 && result <= -11) || result == -2 || result == -1;
  if (failed) {
    throw(EngineState() & MAPS::kEngineStateStopping) != 0 ? MAPS::kStopSignal : MAPS::kErrorSignal;
  }
}

void MAPS_NTRIP_Client::Banzai() {}

void MAPS_NTRIP_Client::Death() {
  _input_reader.reset();
}
