#include "console.h"

#include <chrono>
#include <cstdio>

#include "report_filter.h"

namespace ntrip_host {

namespace {

// Back to the line's start and clear it: the in-place status goes before a line takes its place.
constexpr const char* kClearLine = "\r\x1b[K";

void WriteLine(bool clear, const std::string& line) {
  std::fprintf(stderr, "%sntrip-host: %s\n", clear ? kClearLine : "", line.c_str());
}

}  // namespace

void Console::Write(const std::string& line) const {
  WriteLine(status_in_place_, line);
}

void Console::Status(const std::string& short_line, const std::string& full_line) const {
  if (!status_in_place_ || short_line.empty()) {
    Write("status " + full_line);
    return;
  }
  std::fprintf(stderr, "%s%s", kClearLine, short_line.c_str());
  std::fflush(stderr);
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
  return [quiet = quiet_, clear = status_in_place_](ntrip_host::LogLevel level,
                                                    const std::string& line) {
    if (quiet && level == ntrip_host::LogLevel::kInfo) return;
    WriteLine(clear, level == ntrip_host::LogLevel::kWarning ? "warning: " + line : line);
  };
}

ReportSink Console::Reports(ConnectionWatch& watch) const {
  return [quiet = quiet_, verbose = verbose_, clear = status_in_place_, &watch](const Report& report) {
    watch.OnReport(report, std::chrono::steady_clock::now());
    if (quiet && report.kind == MAPS::ReportKind::Information) return;
    if (!verbose && IsVerboseOnlyReport(report)) return;
    Report shown = report;
    if (shown.instance.ends_with('_')) shown.instance.pop_back();
    const std::string line = (clear ? kClearLine : "") + maps_host::FormatReport(shown) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
}

}  // namespace ntrip_host
