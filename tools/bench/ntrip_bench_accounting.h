#pragma once
// The byte accounting of a run: the raw output against what each caster connection served, in
// order, and the delay from each caster write to its last byte leaving the raw output.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ntrip_bench_sink.h"
#include "replay_caster.h"

namespace ntrip_bench {

struct Slow {
  double ms;
  std::size_t connection, write;
  double at_s;
};

// What the raw output holds against what each connection served.
struct Accounting {
  std::uint64_t expected_hash = kFnvStart, hashed = 0;  // of the stream as served, looped
  std::size_t serving = 0, marks_unmatched = 0;
  std::vector<double> delays_ms, steady_ms;  // steady: without each connection's first write
  std::vector<double> drop_gaps_ms;  // a caster close -> the next connection's first byte out
  std::vector<Slow> slowest;
};

// Prints a line per connection and finds, for every caster write, when its last byte came out.
// `drops`: the caster closed each connection itself, so the gap to the next one is measured.
Accounting CheckConnections(const std::vector<caster::ConnectionRecord>& records,
                            const std::vector<Arrival>& arrivals, const std::string& mount_bytes,
                            std::uint64_t out_total, std::chrono::steady_clock::time_point t0,
                            bool drops);

}  // namespace ntrip_bench
