// ntrip-host: the substitute host program.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "describe.h"
#include "engine.h"

namespace {

constexpr const char* kUsage =
    "usage: ntrip-host --describe [--package PATH]\n"
    "  --describe      print the model, its input, outputs and properties with their defaults\n"
    "  --package PATH  the package to load (default: ../lib/ntrip_client_package.so next to\n"
    "                  this program)\n";

int Describe(const std::filesystem::path& package_path) {
  maps_host::Engine engine;
  const maps_host::Package& package = engine.LoadPackage(package_path);
  std::cout << "package " << package.Path().string() << "\n";
  for (const MAPS::ModuleDefinition* module : package.Modules()) {
    std::cout << maps_host::DescribeModule(*module);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool describe = false;
  std::filesystem::path package_path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--describe") {
      describe = true;
    } else if (argument == "--package" && i + 1 < argc) {
      package_path = argv[++i];
    } else if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << "ntrip-host: unknown argument " << argument << "\n" << kUsage;
      return 2;
    }
  }
  if (!describe) {
    std::cerr << kUsage;
    return 2;
  }
  if (package_path.empty()) {
    package_path = maps_host::DefaultPackagePath(maps_host::CurrentExecutable());
  }
  try {
    return Describe(package_path);
  } catch (const std::exception& error) {
    std::cerr << "ntrip-host: " << error.what() << "\n";
    return 1;
  }
}
