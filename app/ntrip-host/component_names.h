#pragma once
// The component model the program runs, and the names of its input and outputs.
namespace ntrip_host {

inline constexpr const char* kModel = "NTRIP_Client";
inline constexpr const char* kInstanceName = "NTRIP_Client_1";
inline constexpr const char* kPositionInput = "iGPSPos";
inline constexpr const char* kRawOutput = "oRawRTCM";
inline constexpr const char* kDecodedOutput = "oDecodeRTCM";

}  // namespace ntrip_host
