// The component as a package whose internet probe always fails, even for a caster on loopback:
// it must warn and connect all the same.
#include <string>

#include "maps_ntrip_client.h"

namespace {

MAPSComponent* CreateWithFailingProbe(MAPS::InstanceHandle* instance) {
  InternetProbeSettings probe;
  probe.runner = [](const std::string&) { return std::string("Request timed out.\n"); };
  probe.probe_local_casters = true;
  return new MAPS_NTRIP_Client(instance, probe);
}

// Built on first use: the component's own definition is another file's static.
const MAPS::ModuleList& Modules() {
  static const MAPS::ModuleDefinition definition = [] {
    MAPS::ModuleDefinition d = kNtripClientDefinition;
    d.create = CreateWithFailingProbe;
    return d;
  }();
  static const MAPS::ModuleDefinition* const modules[] = {&definition};
  static const MAPS::ModuleList list = {modules};
  return list;
}

}  // namespace

extern "C" MAPS_PACKAGE_EXPORT int MAPSPckInit(MAPS::Kernel* kernel, int interface_version) {
  return MAPS::InstallKernel(kernel, interface_version);
}

extern "C" MAPS_PACKAGE_EXPORT const MAPS::ModuleList* MAPSGetModulesDefStruct() {
  return &Modules();
}
