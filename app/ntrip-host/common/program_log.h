// Where the program's input/output pieces say what happens to them (connects, drops, retries).
#pragma once

#include <functional>
#include <string>

namespace ntrip_host {

enum class LogLevel {
  kInfo,     // connects, disconnects: hidden by a quiet program
  kWarning,  // retries, dropped clients, dropped elements
};

// Receives one line without trailing newline. Called from the pieces' own threads.
using LogFunction = std::function<void(LogLevel, const std::string&)>;

// Writes "ntrip-host: <line>" to stderr when `log` is empty, else calls it.
void LogTo(const LogFunction& log, LogLevel level, const std::string& line);

}  // namespace ntrip_host
