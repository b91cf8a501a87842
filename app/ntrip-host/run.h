#pragma once
// A run of the NTRIP_Client component: properties, position feed, output sinks, status, stop.
#include <filesystem>

#include "options.h"

namespace ntrip_host {

// Returns the exit status: 0 after a clean stop, 1 on a runtime failure. Throws UsageError for
// option values found bad before start (unknown property, bad value, bad sink or source text).
// SIGINT, SIGTERM and SIGHUP must have been taken over (TakeOverStopSignals) before any thread
// started.
int RunComponent(const RunOptions& options, const std::filesystem::path& executable);

}  // namespace ntrip_host
