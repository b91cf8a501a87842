#pragma once
// Where the component's log files go when ntrip-host runs it: the user's logging_path, checked
// before start, or a state directory of the user's (or of the service) when the user set none.
#include <functional>
#include <optional>
#include <string>

namespace ntrip_host {

struct LogDirectoryChoice {
  std::optional<std::string> logging_path;  // the value to give the component, when it changes
  std::string note;                         // said once at start
  std::string warning;                      // the fallback could not be made
};

// Reads an environment variable (null when unset); the program passes std::getenv.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// `user_setting`: where the user gave logging_path ("--set logging_path=" or "FILE:LINE:
// logging_path = "); a value that is not a writable directory is then a UsageError naming it.
// Otherwise a default that is not a directory is replaced by $STATE_DIRECTORY/logs (a service),
// $XDG_STATE_HOME/ntrip-host/logs or ~/.local/state/ntrip-host/logs, created with mode 0700.
// Nothing changes unless the destination is "Log".
LogDirectoryChoice ChooseLogDirectory(const std::string& destination,
                                      const std::string& logging_path,
                                      const std::optional<std::string>& user_setting,
                                      const EnvironmentLookup& environment);

}  // namespace ntrip_host
