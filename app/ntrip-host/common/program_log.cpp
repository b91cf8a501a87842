#include "common/program_log.h"

#include <cstdio>

namespace ntrip_host {

void LogTo(const LogFunction& log, LogLevel level, const std::string& line) {
  if (log) {
    log(level, line);
    return;
  }
  // One fprintf per line: stdio locks the stream, so lines of different threads do not mix.
  std::fprintf(stderr, "ntrip-host: %s\n", line.c_str());
}

}  // namespace ntrip_host
