#pragma once
// The command line of ntrip-bench: which measurement to run and how.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ntrip_bench_failover.h"
#include "ntrip_bench_run.h"
#include "program_text.h"

namespace ntrip_bench {

struct BenchChoice {
  cli::Answer answer = cli::Answer::kNone;  // --help, --version or --man instead of measuring
  RunOptions run;
  FailoverOptions failover{.cycles = 0};  // cycles > 0: --failover instead of a run
  bool vs_relay = false;
  bool tls = false;  // a plain run, then one over TLS
  bool decoder_only = false;
  double decoder_mb = 64;                         // 0: no decoder figure
  std::optional<std::uint16_t> relay_child_port;  // started by --vs-relay as its bare relay
};

// `defaults` holds the package and ntrip-host found beside the program. Throws cli::UsageError.
BenchChoice ParseBenchCommandLine(const std::vector<std::string>& arguments, BenchChoice defaults);

// What --help, --version or --man prints.
std::string BenchAnswerText(cli::Answer answer, std::string_view version);

}  // namespace ntrip_bench
