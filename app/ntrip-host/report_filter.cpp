#include "report_filter.h"

#include <array>
#include <string_view>

namespace ntrip_host {

namespace {

// Whole texts.
constexpr std::array<std::string_view, 7> kTraceTexts = {
    "Error with Boost Initialisation",
    "Restart the Socket Error while Connecting",
    "Socket State is below Connected => Restart the socket",
    "Number max of accuracy errors has been reach => Restart the Socket",
    "Minimum printing ON !",
    "Logging Component ON !",
    "Debug Component ON !",
};

// Beginnings of texts that carry a value.
constexpr std::array<std::string_view, 2> kPerSamplePrefixes = {
    "_ntrip_client->State :",
    "Position Accuracy : ",
};

}  // namespace

bool IsVerboseOnlyReport(const Report& report) {
  if (report.kind != MAPS::ReportKind::Information) return false;
  for (std::string_view text : kTraceTexts) {
    if (report.text == text) return true;
  }
  for (std::string_view prefix : kPerSamplePrefixes) {
    if (report.text.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace ntrip_host
