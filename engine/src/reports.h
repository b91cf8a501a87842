#pragma once
// Reports of components (information, warning, error) and where they go.
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "maps_sdk.h"

namespace maps_host {

struct Report {
  std::string instance;
  MAPS::ReportKind kind = MAPS::ReportKind::Information;
  std::string text;
};

// Receives every report of an engine, one call at a time. It must not call back into the engine;
// if it throws, the report goes to the console instead.
using ReportSink = std::function<void(const Report& report)>;

std::string_view ReportKindName(MAPS::ReportKind kind);

// "<instance> [<kind>] <text>", the console line.
std::string FormatReport(const Report& report);

// Writes FormatReport lines to stderr.
void WriteReportToConsole(const Report& report);

class ReportRouter {
 public:
  explicit ReportRouter(ReportSink sink);  // empty: the console
  void Deliver(const Report& report) const;

 private:
  mutable std::mutex mutex_;
  ReportSink sink_;
};

}  // namespace maps_host
