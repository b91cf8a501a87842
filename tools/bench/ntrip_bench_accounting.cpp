#include "ntrip_bench_accounting.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace ntrip_bench {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The first arrival whose count reaches `offset` (the element that carries that byte).
std::vector<Arrival>::const_iterator ArrivalAt(const std::vector<Arrival>& arrivals,
                                               std::uint64_t offset) {
  return std::lower_bound(arrivals.begin(), arrivals.end(), offset,
                          [](const Arrival& x, std::uint64_t v) { return x.end < v; });
}

// How many of the output's bytes are connection `i`'s, which begin at `base`.
std::uint64_t BytesOutOf(const std::vector<caster::ConnectionRecord>& records, std::size_t i,
                         std::uint64_t base, std::uint64_t out_total) {
  if (out_total <= base) return 0;
  // The last connection may have delivered a piece the caster had started writing when it
  // was stopped (cancelled writes are not counted as served): expect the stream to go on.
  if (i + 1 == records.size()) return out_total - base;
  return std::min<std::uint64_t>(out_total - base, records[i].served_bytes);
}

void PrintConnectionLine(const std::vector<caster::ConnectionRecord>& records, std::size_t i,
                         std::uint64_t out_i) {
  const auto& r = records[i];
  // Time without data: from the previous connection's last write to this one's first.
  std::string gap;
  if (i > 0 && !records[i - 1].writes.empty() && !r.writes.empty())
    gap = "  gap " +
          std::to_string(Seconds(r.writes.front().when - records[i - 1].writes.back().when)) +
          " s";
  std::printf("  #%-3zu served %12zu B  out %12llu B%s  %s\n", i + 1, r.served_bytes,
              static_cast<unsigned long long>(out_i), gap.c_str(),
              out_i == r.served_bytes  ? "equal"
              : out_i > r.served_bytes ? "more: the rest of a write cut by the caster's stop"
                                       : "SHORT (in flight at stop)");
}

// The caster closes right after a connection's last write: from there to the first byte of the
// next connection (which begins at `base`) in the output.
void NoteDropGap(const caster::ConnectionRecord& previous, std::uint64_t base,
                 const std::vector<Arrival>& arrivals, Accounting& acc) {
  const auto first = std::upper_bound(arrivals.begin(), arrivals.end(), base,
                                      [](std::uint64_t v, const Arrival& x) { return v < x.end; });
  if (first != arrivals.end())
    acc.drop_gaps_ms.push_back(
        std::chrono::duration<double, std::milli>(first->when - previous.writes.back().when)
            .count());
}

// Expected bytes of a connection: the stream looped from offset 0.
void HashExpected(const std::string& mount_bytes, std::uint64_t out_i, Accounting& acc) {
  std::uint64_t left = out_i;
  std::size_t pos = 0;
  while (left > 0) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, mount_bytes.size() - pos));
    acc.expected_hash = Fnv1a(acc.expected_hash, std::string_view(mount_bytes).substr(pos, n));
    acc.hashed += n;
    left -= n;
    pos = (pos + n) % mount_bytes.size();
  }
}

// Where a connection's bytes end in the output, the running hash must match.
void CheckContentEnd(const std::vector<Arrival>& arrivals, std::uint64_t boundary,
                     std::uint64_t out_i, std::uint64_t expected_hash) {
  const auto at = ArrivalAt(arrivals, boundary);
  if (at != arrivals.end() && at->end == boundary)
    std::printf("        bytes 0..%llu of this connection: %s\n",
                static_cast<unsigned long long>(out_i),
                at->hash == expected_hash ? "content equal" : "CONTENT DIFFERS");
  else
    std::printf("        no element ends where this connection's bytes end: %s\n",
                at == arrivals.end() ? "past the output" : "elements straddle connections");
}

// For every caster write of connection `i` (from 0), when its last byte came out.
void MatchWrites(const caster::ConnectionRecord& r, std::size_t i, std::uint64_t base,
                 const std::vector<Arrival>& arrivals, Clock::time_point t0, Accounting& acc) {
  for (const auto& w : r.writes) {
    const auto a = ArrivalAt(arrivals, base + w.end_offset);
    if (a == arrivals.end()) {
      ++acc.marks_unmatched;
      continue;
    }
    const double ms = std::chrono::duration<double, std::milli>(a->when - w.when).count();
    acc.delays_ms.push_back(ms);
    const auto index = static_cast<std::size_t>(&w - r.writes.data());
    if (index > 0) acc.steady_ms.push_back(ms);
    std::vector<Slow>& slowest = acc.slowest;
    slowest.push_back({ms, i + 1, index + 1, Seconds(w.when - t0)});
    std::partial_sort(slowest.begin(), slowest.begin() + std::min<std::size_t>(5, slowest.size()),
                      slowest.end(), [](const Slow& x, const Slow& y) { return x.ms > y.ms; });
    if (slowest.size() > 5) slowest.resize(5);
  }
}

}  // namespace

Accounting CheckConnections(const std::vector<caster::ConnectionRecord>& records,
                            const std::vector<Arrival>& arrivals, const std::string& mount_bytes,
                            std::uint64_t out_total, Clock::time_point t0, bool drops) {
  Accounting acc;
  std::uint64_t base = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    if (r.served_bytes > 0) ++acc.serving;
    const std::uint64_t out_i = BytesOutOf(records, i, base, out_total);
    PrintConnectionLine(records, i, out_i);
    if (drops && i > 0 && !records[i - 1].writes.empty() && out_i > 0)
      NoteDropGap(records[i - 1], base, arrivals, acc);
    HashExpected(mount_bytes, out_i, acc);
    if (out_i > 0) CheckContentEnd(arrivals, base + out_i, out_i, acc.expected_hash);
    MatchWrites(r, i, base, arrivals, t0, acc);
    base += r.served_bytes;
  }
  return acc;
}

}  // namespace ntrip_bench
