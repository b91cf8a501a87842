#pragma once
// ntrip-bench --failover N: ntrip-host (the program, as a child process) against two replay
// casters on loopback, the preferred one killed and restarted N times. Prints the gap from each
// death to the fallback's first byte on the raw output, from each restart to the preferred
// caster's first byte again, and whether the raw output holds every connection's bytes once and
// in order.
#include <string>

namespace ntrip_bench {

struct FailoverOptions {
  int cycles = 3;
  std::string host_program{};  // ntrip-host
  double switch_after_s = 10;  // --switch-after of the run
  double probe_period_s = 30;  // --probe-period of the run
};

int RunFailover(const FailoverOptions& options);

}  // namespace ntrip_bench
