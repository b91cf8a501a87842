#pragma once
// The package's link to the engine, set by MAPSPckInit through MAPS::InstallKernel.
#include "maps_kernel.h"

namespace MAPS::sdk {

// The installed kernel; a host call before MAPSPckInit is a broken host, so it aborts loudly.
Kernel& TheKernel();

}  // namespace MAPS::sdk
