// Command line of ntrip-replay-caster.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "program_text.h"
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
  cli::Answer answer = cli::Answer::kNone;  // --help, --version or --man instead of serving
};

// Throws std::invalid_argument with a message for the user on a bad command line.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
// What --help, --version or --man prints.
std::string AnswerText(cli::Answer answer, std::string_view version);

}  // namespace caster
