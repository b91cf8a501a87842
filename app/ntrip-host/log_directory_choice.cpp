#include "log_directory_choice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/option_text.h"
#include "log.h"
#include "options.h"

namespace ntrip_host {

namespace {

namespace fs = std::filesystem;

std::string Variable(const EnvironmentLookup& environment, const char* name) {
  const char* value = environment(name);
  return value != nullptr ? value : "";
}

// The state directory for logs, from the first of the service's, XDG's and the home's.
fs::path DefaultLogDirectory(const EnvironmentLookup& environment) {
  // systemd may list several directories, separated by colons: the first is the unit's own.
  const std::string service = Variable(environment, "STATE_DIRECTORY");
  if (!service.empty()) return fs::path(service.substr(0, service.find(':'))) / "logs";
  // A relative XDG_STATE_HOME is invalid and ignored.
  const std::string xdg = Variable(environment, "XDG_STATE_HOME");
  if (!xdg.empty() && xdg.front() == '/') return fs::path(xdg) / "ntrip-host" / "logs";
  const std::string home = Variable(environment, "HOME");
  if (!home.empty()) return fs::path(home) / ".local" / "state" / "ntrip-host" / "logs";
  return {};
}

// Creates the missing levels of `directory` readable by the user alone: log lines name the
// caster, the mount point and the user's position.
std::string CreatePrivately(const fs::path& directory) {
  fs::path made;
  for (const fs::path& part : directory) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + made.string() + ": " + std::strerror(errno);
    }
  }
  return {};
}

}  // namespace

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
