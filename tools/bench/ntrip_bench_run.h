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
};

// Prints the figures; returns 0, or 1 when the run could not be set up.
int Run(const RunOptions& options);

}  // namespace ntrip_bench
