#include "kernel_link.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace MAPS {
namespace {
// Several engines in one process hand over the same stateless kernel, so a later install
// replacing an earlier one changes nothing.
std::atomic<Kernel*> installed_kernel{nullptr};
}  // namespace

int InstallKernel(Kernel* kernel, int interface_version) {
  if (kernel == nullptr || interface_version != kKernelInterfaceVersion) return -1;
  installed_kernel.store(kernel);
  return 0;
}

namespace sdk {
Kernel& TheKernel() {
  Kernel* kernel = installed_kernel.load();
  if (kernel == nullptr) {
    std::fputs("host call before MAPSPckInit: the package was not initialised\n", stderr);
    std::abort();
  }
  return *kernel;
}
}  // namespace sdk
}  // namespace MAPS
