#pragma once
// The text of `ntrip-host --describe`: a model's definition as the engine loaded it.
#include <filesystem>
#include <string>
#include <vector>

#include "maps_sdk.h"

#include "platform_paths.h"

namespace ntrip_host {

// What the user set for a property, and where: "--set" or "FILE:LINE".
struct Setting {
  std::string name, value, origin;
};

// Model and version, the inputs, each output with buffer and FIFO size, then one line per
// property "name kind value" in declaration order, then the built-in properties. The value is
// the default, or the latest of `settings` for it followed by where it came from and the default.
std::string DescribeModule(const MAPS::ModuleDefinition& module,
                           const std::vector<Setting>& settings = {});

// The package beside the program, <bin>/../lib/ntrip-host/<file name>: where the build tree, an
// installed prefix and an unpacked Debian package all hold it (on Windows <bin>/<file name>,
// the DLL in the program's own folder).
std::filesystem::path DefaultPackagePath(const std::filesystem::path& executable);

}  // namespace ntrip_host
