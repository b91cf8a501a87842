#pragma once
// The substitute engine: loads packages, creates component instances from their models, runs and
// stops them. What a program or a test needs, in order:
//
//   maps_host::Engine engine({.sampling_period_scale = 0.01, .report_sink = capture});
//   engine.LoadPackage("build/lib/ntrip-host/ntrip_client_package.so"); // PackageError on failure
//   maps_host::Instance& client = engine.CreateInstance("NTRIP_Client", "NTRIP_Client_1");
//   client.SetProperty("port", "2101");                            // PropertyError if unusable
//   client.Start();                                                // Birth, then Core repeatedly
//   client.PushSample("iGPSPos", {48.1, 11.5, 520.0, 0.02});
//   auto element = client.PopOutput("oRawRTCM", std::chrono::seconds(2));
//   client.Stop();                       // stop flag, Banzai, Death, component destroyed
//   engine.DestroyInstance(client);      // or leave it to ~Engine, which also unloads packages
#include <chrono>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "instance.h"
#include "package.h"
#include "reports.h"

namespace maps_host {

struct EngineOptions {
  // Every sampling period is multiplied by this: the sampling-clock seam. 0.01 runs a one-second
  // period every 10 ms.
  double sampling_period_scale = 1.0;
  // Receives every report; empty: the console (stderr), "<instance> [<kind>] <text>".
  ReportSink report_sink;
};

class Engine {
 public:
  explicit Engine(EngineOptions options = {});
  ~Engine();  // stops and destroys every instance, then unloads the packages
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Throws PackageError naming the path for a missing file, a file that is no shared library, a
  // library without the two exports, or unusable definitions.
  const Package& LoadPackage(const std::filesystem::path& path);
  // Drops every package; instances still alive keep theirs loaded until they are destroyed.
  void UnloadPackages();

  // The model in the loaded packages, or null.
  const MAPS::ModuleDefinition* FindModel(std::string_view model) const;

  // A new instance with the model's property defaults; std::invalid_argument for an unknown
  // model or a name already in use.
  Instance& CreateInstance(std::string_view model, std::string instance_name);
  void DestroyInstance(Instance& instance);

 private:
  const EngineOptions options_;
  const std::chrono::steady_clock::time_point origin_;
  ReportRouter reports_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<const Package>> packages_;
  std::list<std::unique_ptr<Instance>> instances_;
};

}  // namespace maps_host
