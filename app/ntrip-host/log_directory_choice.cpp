#include "log_directory_choice.h"

#include <filesystem>

#include "common/option_text.h"
#include "log.h"
#include "options.h"
#include "platform_paths.h"

namespace ntrip_host {

namespace fs = std::filesystem;

LogDirectoryChoice ChooseLogDirectory(const std::string& destination,
                                      const std::string& logging_path,
                                      const std::optional<std::string>& user_setting,
                                      const EnvironmentLookup& environment) {
  LogDirectoryChoice choice;
  if (destination != "Log") return choice;
  if (user_setting) {
    if (const std::string problem = tarno::LogDirectoryProblem(logging_path); !problem.empty()) {
      throw UsageError(*user_setting + Escaped(logging_path) + ": " + problem +
                       " (log files need a writable directory; or --set "
                       "log_destination=Console)");
    }
    return choice;
  }
  if (tarno::LogDirectoryProblem(logging_path).empty()) return choice;
  const fs::path fallback = DefaultLogDirectory(environment);
  if (fallback.empty()) {
    choice.warning = "no log directory: " + logging_path +
                     " is not one and neither STATE_DIRECTORY, XDG_STATE_HOME nor HOME is set; "
                     "give --set logging_path=DIR";
    return choice;
  }
  std::string problem = CreatePrivately(fallback);
  if (problem.empty()) {
    problem = tarno::LogDirectoryProblem(fallback.string());
    if (!problem.empty()) problem = fallback.string() + ": " + problem;
  }
  // The component's own complaint then names this directory, not a default the user never set.
  choice.logging_path = fallback.string();
  if (!problem.empty()) {
    choice.warning = "no log directory: " + problem + "; give --set logging_path=DIR";
    return choice;
  }
  choice.note = "log files go to " + fallback.string();
  return choice;
}

}  // namespace ntrip_host
