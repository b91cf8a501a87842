// Where the platform keeps things for the program, one function per job.
#pragma once

#include <filesystem>
#include <string>

#include "log_directory_choice.h"

namespace ntrip_host {

// The running program's own file; empty when the system does not say.
std::filesystem::path CurrentExecutable();

// The user's folder for the program's log files: $STATE_DIRECTORY/logs (a service),
// $XDG_STATE_HOME/ntrip-host/logs or ~/.local/state/ntrip-host/logs on Linux,
// %LOCALAPPDATA%\ntrip-host\logs on Windows; empty when the environment names none.
std::filesystem::path DefaultLogDirectory(const EnvironmentLookup& environment);

// Creates the missing levels of `directory` for the user alone (log lines name the caster, the
// mount point and the user's position); the reason when it cannot.
std::string CreatePrivately(const std::filesystem::path& directory);

}  // namespace ntrip_host
