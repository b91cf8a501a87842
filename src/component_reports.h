#pragma once
// The component's reports that a host sorts rather than shows as they come: those that trace its
// inner steps and those of every position sample. The component says them from here and a host
// (ntrip-host's console) recognises them from here, so that a change of wording cannot leave a
// host behind. The link events have words of their own (link_events.h).
#include <array>
#include <string_view>

namespace tarno::reports {

// The set-up steps that fail, and the rebuilds.
inline constexpr char kBoostInitialisationError[] = "Error with Boost Initialisation";
inline constexpr char kErrorWhileConnecting[] = "Restart the Socket Error while Connecting";
inline constexpr char kBelowConnected[] = "Socket State is below Connected => Restart the socket";
inline constexpr char kAccuracyErrorsReached[] =
    "Number max of accuracy errors has been reach => Restart the Socket";
// The log destination chosen at Birth.
inline constexpr char kMinimumPrinting[] = "Minimum printing ON !";
inline constexpr char kLoggingComponent[] = "Logging Component ON !";
inline constexpr char kDebugComponent[] = "Debug Component ON !";
// Of every position sample, each followed by a value.
inline constexpr char kStatePrefix[] = "_ntrip_client->State :";
inline constexpr char kAccuracyPrefix[] = "Position Accuracy : ";

// Whole texts of the reports that trace inner steps.
inline constexpr std::array<std::string_view, 7> kTraceReports = {
    kBoostInitialisationError, kErrorWhileConnecting, kBelowConnected, kAccuracyErrorsReached,
    kMinimumPrinting,          kLoggingComponent,     kDebugComponent,
};
// Beginnings of the reports of every position sample.
inline constexpr std::array<std::string_view, 2> kPerSamplePrefixes = {kStatePrefix,
                                                                       kAccuracyPrefix};

}  // namespace tarno::reports
