#include "report_filter.h"

#include <string_view>

#include "component_reports.h"

namespace ntrip_host {

bool IsVerboseOnlyReport(const Report& report) {
  if (report.kind != MAPS::ReportKind::Information) return false;
  for (std::string_view text : tarno::reports::kTraceReports) {
    if (report.text == text) return true;
  }
  for (std::string_view prefix : tarno::reports::kPerSamplePrefixes) {
    if (report.text.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace ntrip_host
