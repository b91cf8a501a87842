#pragma once
// The few calls that differ between Linux and Windows, kept in one place.
#include <ctime>

namespace tarno {

// Numeric identifier of the calling thread, as the operating system shows it.
unsigned long CurrentThreadNumber();

// Thread-safe local-time breakdown.
void LocalTime(std::time_t t, std::tm* out);

}  // namespace tarno
