#pragma once
// Diagnostic sink of the decoder. It discards everything and formats nothing; callers that
// would compute an argument only for the trace may guard it with `if constexpr (kTraceOn)`.

namespace rtcm {

inline constexpr bool kTraceOn = false;

template <typename... Args>
inline void trace(int /*level*/, const char* /*format*/, const Args&... /*args*/) {}

}  // namespace rtcm
