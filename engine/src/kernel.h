#pragma once
// The engine's implementation of the kernel interface. It keeps no state of its own: every call
// names the instance, output or reader it is about, so one kernel serves every engine in the
// process (a package loaded twice keeps working whichever engine initialised it last).
#include "maps_kernel.h"

namespace maps_host {

MAPS::Kernel& EngineKernel();

}  // namespace maps_host
