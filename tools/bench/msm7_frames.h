#pragma once
// What both benchmarks build their synthetic streams from, and how they time them.
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One MSM 7 message: satellites 1..nsat and the signals given, every cell set.
std::string Msm7Frame(int type, std::uint32_t tow_ms, bool last, int nsat,
                      const std::vector<int>& signals);

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();

}  // namespace bench
