#pragma once
// What a run is given before anything starts: the user's settings, and what the demo fills in
// around them (its caster, its mount point, its outputs and duration).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console.h"
#include "options.h"
#include "replay_caster.h"

namespace ntrip_host {

struct RunPlan {
  // The demo's properties first, then the user's: a user's setting wins. `origins` beside them:
  // "FILE:LINE" of a config file's setting, empty for the demo's and for --set.
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<std::string> origins;
  std::optional<PositionChoice> position;
  std::optional<std::string> raw_out, decoded_out;
  std::optional<double> duration;
  std::unique_ptr<caster::ReplayCaster> demo_caster;
  std::filesystem::path demo_raw_path;
};

// False when the demo's caster cannot start (said on the console). Throws UsageError for
// outputs the run cannot have.
bool MakePlan(const RunOptions& options, const std::filesystem::path& executable,
              const Console& console, RunPlan& plan);

// "a, b, c"
std::string JoinNames(const std::vector<std::string>& names);

}  // namespace ntrip_host
