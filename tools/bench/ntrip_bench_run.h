#pragma once
// One benchmark run: the replay caster and the engine with the real package in this process,
// for a given time at a given rate, optionally restarting the caster now and then.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ntrip_bench {

struct RunOptions {
  double duration_s = 30;
  double rate = 3000;          // bytes per second, 0: as fast as possible
  bool whole_frames = true;    // with a rate: each write one whole frame
  double restart_every_s = 0;  // 0: never; else about this often (+-30 %)
  std::size_t max_bytes = 0;   // > 0: the caster ends each connection cleanly after this many
  double drop_every_s = 0;     // > 0: the caster drops each connection after about this long
  bool log_file = true;        // log_destination Log into a temporary folder, else Nothing
  bool decode = true;
  bool keep_log = false;
  std::string package;
  std::string recording;  // empty: synthetic MSM 7 epochs
  std::uint32_t seed = 1;
  // Both set: the caster serves TLS with this certificate and the client verifies it against
  // tls_ca_file.
  std::string tls_cert_file, tls_key_file, tls_ca_file;
};

// The headline figures of a run, for comparing two runs.
struct Figures {
  double delay_p50_ms = 0, delay_p99_ms = 0;
  double mib_per_s = 0;
  double cpu_s_per_mb = 0;  // the whole process (caster and client) per MB out
};

// Prints the figures; returns 0, or 1 when the run could not be set up.
int Run(const RunOptions& options, Figures* figures = nullptr);

}  // namespace ntrip_bench
