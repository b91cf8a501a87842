#pragma once
// The NTRIP_Client component model: its definition and the component class.
#include <memory>

#include "maps_sdk.h"

// The definition the package declares to the host.
extern const MAPS::ModuleDefinition kNtripClientDefinition;

class MAPS_NTRIP_Client : public MAPSComponent {
 public:
  explicit MAPS_NTRIP_Client(MAPS::InstanceHandle* instance);
  ~MAPS_NTRIP_Client() override;

  void Core() override;
  void Birth() override;
  void Banzai() override;
  void Death() override;

 private:
  std::unique_ptr<MAPS::InputReader> _input_reader;
};
