#include "console.h"

#include <chrono>
#include <cstdio>

#include "report_filter.h"

namespace ntrip_host {

void Console::Write(const std::string& line) {
  std::fprintf(stderr, "ntrip-host: %s\n", line.c_str());
}

void Console::Result(const std::string& line) const {
  if (stdout_is_stream_) {
    Write(line);
    return;
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

ntrip_host::LogFunction Console::LogFunction() const {
  return [quiet = quiet_](ntrip_host::LogLevel level, const std::string& line) {
    if (quiet && level == ntrip_host::LogLevel::kInfo) return;
    Write(level == ntrip_host::LogLevel::kWarning ? "warning: " + line : line);
  };
}

ReportSink Console::Reports(ConnectionWatch& watch) const {
  return [quiet = quiet_, verbose = verbose_, &watch](const Report& report) {
    watch.OnReport(report, std::chrono::steady_clock::now());
    if (quiet && report.kind == MAPS::ReportKind::Information) return;
    if (!verbose && IsVerboseOnlyReport(report)) return;
    Report shown = report;
    if (shown.instance.ends_with('_')) shown.instance.pop_back();
    WriteReportToConsole(shown);
  };
}

}  // namespace ntrip_host
