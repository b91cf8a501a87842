// Command line of ntrip-replay-caster.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "replay_caster.h"

namespace caster {

struct MountPosition {
  std::string name;
  double latitude = 0, longitude = 0;
};

struct CommandLine {
  CasterOptions options;                                         // mounts without their bytes yet
  std::vector<std::pair<std::string, std::string>> mount_files;  // NAME, FILE
  std::vector<MountPosition> mount_positions;
  bool help = false;
  bool version = false;
};

// Throws std::invalid_argument with a message for the user on a bad command line.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace caster
