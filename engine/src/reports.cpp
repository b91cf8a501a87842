#include "reports.h"

#include <cstdio>

namespace maps_host {

std::string_view ReportKindName(MAPS::ReportKind kind) {
  switch (kind) {
    case MAPS::ReportKind::Information:
      return "Information";
    case MAPS::ReportKind::Warning:
      return "Warning";
    case MAPS::ReportKind::Error:
      return "Error";
  }
  return "Report";
}

std::string FormatReport(const Report& report) {
  std::string line = report.instance;
  line += " [";
  line += ReportKindName(report.kind);
  line += "] ";
  line += report.text;
  return line;
}

void WriteReportToConsole(const Report& report) {
  const std::string line = FormatReport(report) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

ReportRouter::ReportRouter(ReportSink sink)
    : sink_(sink ? std::move(sink) : ReportSink(WriteReportToConsole)) {}

void ReportRouter::Deliver(const Report& report) const {
  // One report at a time, so a sink never sees two threads at once.
  std::scoped_lock lock(mutex_);
  try {
    sink_(report);
  } catch (...) {
    // A failing sink must not turn a report into a failure of the component that made it.
    WriteReportToConsole(report);
  }
}

}  // namespace maps_host
