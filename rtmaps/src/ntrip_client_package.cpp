// The package's two entries, the only symbols it exports.
#include "maps_ntrip_client.h"

namespace {
const MAPS::ModuleDefinition* const kModules[] = {&kNtripClientDefinition};
const MAPS::ModuleList kModuleList = {kModules};
}  // namespace

extern "C" MAPS_PACKAGE_EXPORT int MAPSPckInit(MAPS::Kernel* kernel, int interface_version) {
  return MAPS::InstallKernel(kernel, interface_version);
}

extern "C" MAPS_PACKAGE_EXPORT const MAPS::ModuleList* MAPSGetModulesDefStruct() {
  return &kModuleList;
}
