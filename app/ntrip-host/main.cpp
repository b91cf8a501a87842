// ntrip-host: the substitute host program. Runs the NTRIP_Client component of a package with
// positions fed to its input and its outputs written to sinks, or describes the package.
// Exit status: 0 ok, 1 runtime failure, 2 bad command line or option value.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "describe.h"
#include "engine.h"
#include "ntrip_version.h"
#include "options.h"
#include "run.h"
#include "stop_control.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Describe(const std::filesystem::path& package_path, const ntrip_host::RunOptions& options) {
  maps_host::Engine engine;
  const maps_host::Package& package = engine.LoadPackage(package_path);
  std::vector<ntrip_host::Setting> settings;
  for (std::size_t i = 0; i < options.properties.size(); ++i) {
    settings.push_back({options.properties[i].first, options.properties[i].second,
                        i < options.property_origins.size() ? options.property_origins[i] : ""});
  }
  std::cout << "package " << package.Path().string() << "\n";
  for (const MAPS::ModuleDefinition* module : package.Modules()) {
    std::cout << ntrip_host::DescribeModule(*module, settings);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits the blocked stop signals.
  ntrip_host::TakeOverStopSignals();

  ntrip_host::RunOptions options;
  const auto parse = [&] {
    options = ntrip_host::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    return options.answer;
  };
  const auto answer_text = [](cli::Answer answer) {
    return ntrip_host::AnswerText(answer, NTRIP_VERSION);
  };
  if (const auto status = cli::EndBeforeRunning("ntrip-host", parse, answer_text)) return *status;
  const std::filesystem::path executable = ntrip_host::CurrentExecutable();
  try {
    if (options.describe) {
      const std::filesystem::path package_path = options.package_path.empty()
                                                     ? ntrip_host::DefaultPackagePath(executable)
                                                     : options.package_path;
      return Describe(package_path, options);
    }
    return ntrip_host::RunComponent(options, executable);
  } catch (const ntrip_host::UsageError& error) {
    std::cerr << "ntrip-host: " << error.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "ntrip-host: " << error.what() << "\n";
    return kExitFailure;
  }
}
