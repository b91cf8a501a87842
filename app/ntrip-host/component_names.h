#pragma once
// The component model the program runs, and the names of its input and outputs.
namespace ntrip_host {

inline constexpr const char* kModel = "NTRIP_Client";
// The component names its log files after its instance with the date right behind: the name
// carries the separator, which the console leaves out ("NTRIP_Client_1 [Warning] ...").
inline constexpr const char* kInstanceName = "NTRIP_Client_1_";
inline constexpr const char* kPositionInput = "iGPSPos";
inline constexpr const char* kRawOutput = "oRawRTCM";
inline constexpr const char* kDecodedOutput = "oDecodeRTCM";

}  // namespace ntrip_host
