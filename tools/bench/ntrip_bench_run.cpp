#include "ntrip_bench_run.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"
#include "ntrip_bench_process.h"
#include "ntrip_bench_sink.h"
#include "ntrip_bench_stream.h"
#include "replay_caster.h"

namespace ntrip_bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kMount = "BENCH";
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench-pass";

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The caster, recreated on the same port at each restart; keeps the records of the stopped ones.
class CasterSeries {
 public:
  explicit CasterSeries(caster::CasterOptions options) : options_(std::move(options)) {
    current_ = std::make_unique<caster::ReplayCaster>(options_);
    options_.port = current_->Port();
  }
  std::uint16_t Port() const { return options_.port; }
  std::size_t Restarts() const { return restarts_; }

  // Stops the caster and starts a new one on the same port; false when the port could not be
  // bound again within a few seconds.
  bool Restart() {
    StopCurrent();
    ++restarts_;
    const auto give_up = Clock::now() + 5s;
    while (true) {
      try {
        current_ = std::make_unique<caster::ReplayCaster>(options_);
        return true;
      } catch (const std::exception& e) {
        if (Clock::now() >= give_up) {
          std::fprintf(stderr, "caster restart failed: %s\n", e.what());
          return false;
        }
        std::this_thread::sleep_for(50ms);
      }
    }
  }
  void StopCurrent() {
    if (!current_) return;
    current_->Stop();
    for (std::size_t i = 0; i < current_->ConnectionCount(); ++i)
      done_.push_back(current_->Connection(i));
    current_.reset();
  }
  std::size_t ConnectionsSoFar() const {
    return done_.size() + (current_ ? current_->ConnectionCount() : 0);
  }
  std::uint64_t ServedSoFar() const {
    std::uint64_t n = 0;
    for (const auto& r : done_) n += r.served_bytes;
    if (current_)
      for (std::size_t i = 0; i < current_->ConnectionCount(); ++i)
        n += current_->Connection(i).served_bytes;
    return n;
  }
  const std::vector<caster::ConnectionRecord>& Records() const { return done_; }

 private:
  caster::CasterOptions options_;
  std::unique_ptr<caster::ReplayCaster> current_;
  std::vector<caster::ConnectionRecord> done_;
  std::size_t restarts_ = 0;
};

struct ReportTally {
  std::mutex mutex;
  std::map<int, std::size_t> by_kind;
  std::vector<std::string> notable;  // first distinct warnings and errors
  void Take(const maps_host::Report& r) {
    std::scoped_lock lock(mutex);
    ++by_kind[static_cast<int>(r.kind)];
    if (r.kind != MAPS::ReportKind::Information && notable.size() < 8 &&
        std::find(notable.begin(), notable.end(), r.text) == notable.end())
      notable.push_back(r.text);
  }
  void Print() {
    std::scoped_lock lock(mutex);
    std::printf("reports: information %zu, warning %zu, error %zu\n", by_kind[0], by_kind[1],
                by_kind[2]);
    for (const auto& t : notable) std::printf("  e.g. %s\n", t.c_str());
  }
};

std::uint64_t FolderBytes(const std::filesystem::path& folder, std::size_t& files) {
  std::uint64_t bytes = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
    if (entry.is_regular_file(ec) && !entry.is_symlink(ec)) {
      bytes += entry.file_size(ec);
      ++files;
    }
  }
  return bytes;
}

void PrintMemory(const char* when, const Memory& m) {
  std::printf("  memory %-22s VmRSS %7lld KiB  VmHWM %7lld KiB\n", when,
              static_cast<long long>(m.rss_kib), static_cast<long long>(m.peak_kib));
}

struct Percentiles {
  std::size_t count = 0;
  double min_ms = 0, p50_ms = 0, p99_ms = 0, max_ms = 0;
};

Percentiles Summarise(std::vector<double> delays_ms) {
  Percentiles p;
  p.count = delays_ms.size();
  if (delays_ms.empty()) return p;
  std::sort(delays_ms.begin(), delays_ms.end());
  auto at = [&](double q) {
    const auto i = static_cast<std::size_t>(q * static_cast<double>(delays_ms.size() - 1) + 0.5);
    return delays_ms[std::min(i, delays_ms.size() - 1)];
  };
  p.min_ms = delays_ms.front();
  p.p50_ms = at(0.50);
  p.p99_ms = at(0.99);
  p.max_ms = delays_ms.back();
  return p;
}

std::string LoadMount(const RunOptions& options) {
  if (options.recording.empty()) return MsmEpochs(300);
  std::error_code ec;
  if (std::filesystem::exists(options.recording, ec))
    return caster::ReadFileBytes(options.recording);
  return caster::ReadFileBytes(std::string(NTRIP_DATA_DIR) + "/" + options.recording);
}

}  // namespace

struct MemoryMarks {
  Memory before_setup, at_start, after_first_minute, at_end;
};

void PrintThreadsAndMemory(const std::vector<ThreadTimes>& threads, const MemoryMarks& m) {
  std::printf(
      "threads alive at the end (CPU time / time runnable but waiting for a CPU / "
      "slices):\n");
  for (const auto& t : threads)
    std::printf("  tid %-7d %-16s cpu %8.3f s  waited %8.3f s  slices %llu\n", t.tid,
                t.name.c_str(), t.cpu_s, t.wait_s, static_cast<unsigned long long>(t.slices));
  PrintMemory("before setup", m.before_setup);
  PrintMemory("at start", m.at_start);
  if (m.after_first_minute.rss_kib >= 0) PrintMemory("after first minute", m.after_first_minute);
  PrintMemory("at end", m.at_end);
  if (m.after_first_minute.rss_kib > 0)
    std::printf("  RSS end vs after first minute: %+.1f %%\n",
                100.0 * static_cast<double>(m.at_end.rss_kib - m.after_first_minute.rss_kib) /
                    static_cast<double>(m.after_first_minute.rss_kib));
}

caster::CasterOptions BenchCaster(const RunOptions& options, const std::string& mount_bytes) {
  caster::CasterOptions caster_options;
  caster_options.listen_address = "127.0.0.1";
  caster_options.mounts.push_back({kMount, mount_bytes});
  caster_options.user = kUser;
  caster_options.password = kPassword;
  caster_options.rate = options.rate;
  caster_options.whole_frames = options.whole_frames;
  caster_options.record_payload = false;
  caster_options.max_bytes = options.max_bytes;
  caster_options.tls_cert_file = options.tls_cert_file;
  caster_options.tls_key_file = options.tls_key_file;
  if (options.drop_every_s > 0) {
    // At a paced rate, a byte count is a time: the caster cuts each connection that far in.
    caster_options.fault = {caster::FaultMode::CloseAfter,
                            static_cast<std::size_t>(options.rate * options.drop_every_s), ""};
  }
  return caster_options;
}

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
Accounting CheckConnections(const std::vector<caster::ConnectionRecord>& records,
                            const std::vector<Arrival>& arrivals, const std::string& mount_bytes,
                            std::uint64_t out_total, Clock::time_point t0, bool drops) {
  Accounting acc;
  std::uint64_t base = 0;
  std::uint64_t& expected_hash = acc.expected_hash;
  std::uint64_t& hashed = acc.hashed;
  std::size_t& serving = acc.serving;
  std::vector<double>& delays_ms = acc.delays_ms;
  std::vector<double>& steady_ms = acc.steady_ms;
  std::vector<double>& drop_gaps_ms = acc.drop_gaps_ms;
  std::vector<Slow>& slowest = acc.slowest;
  std::size_t& marks_unmatched = acc.marks_unmatched;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    if (r.served_bytes > 0) ++serving;
    const bool last = i + 1 == records.size();
    // The last connection may have delivered a piece the caster had started writing when it
    // was stopped (cancelled writes are not counted as served): expect the stream to go on.
    const std::uint64_t out_i =
        out_total > base
            ? (last ? out_total - base : std::min<std::uint64_t>(out_total - base, r.served_bytes))
            : 0;
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
    if (drops && i > 0 && !records[i - 1].writes.empty() && out_i > 0) {
      // The caster closes right after a connection's last write.
      const auto first =
          std::upper_bound(arrivals.begin(), arrivals.end(), base,
                           [](std::uint64_t v, const Arrival& x) { return v < x.end; });
      if (first != arrivals.end())
        drop_gaps_ms.push_back(std::chrono::duration<double, std::milli>(
                                   first->when - records[i - 1].writes.back().when)
                                   .count());
    }
    // Expected bytes of this connection: the stream looped from offset 0.
    std::uint64_t left = out_i;
    std::size_t pos = 0;
    while (left > 0) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, mount_bytes.size() - pos));
      expected_hash = Fnv1a(expected_hash, std::string_view(mount_bytes).substr(pos, n));
      hashed += n;
      left -= n;
      pos = (pos + n) % mount_bytes.size();
    }
    // Where this connection's bytes end in the output, the running hash must match.
    if (out_i > 0) {
      const std::uint64_t boundary = base + out_i;
      const auto at = std::lower_bound(arrivals.begin(), arrivals.end(), boundary,
                                       [](const Arrival& x, std::uint64_t v) { return x.end < v; });
      if (at != arrivals.end() && at->end == boundary)
        std::printf("        bytes 0..%llu of this connection: %s\n",
                    static_cast<unsigned long long>(out_i),
                    at->hash == expected_hash ? "content equal" : "CONTENT DIFFERS");
      else
        std::printf("        no element ends where this connection's bytes end: %s\n",
                    at == arrivals.end() ? "past the output" : "elements straddle connections");
    }
    for (const auto& w : r.writes) {
      const std::uint64_t global = base + w.end_offset;
      const auto a = std::lower_bound(arrivals.begin(), arrivals.end(), global,
                                      [](const Arrival& x, std::uint64_t v) { return x.end < v; });
      if (a == arrivals.end()) {
        ++marks_unmatched;
        continue;
      }
      const double ms = std::chrono::duration<double, std::milli>(a->when - w.when).count();
      delays_ms.push_back(ms);
      const auto index = static_cast<std::size_t>(&w - r.writes.data());
      if (index > 0) steady_ms.push_back(ms);
      slowest.push_back({ms, i + 1, index + 1, Seconds(w.when - t0)});
      std::partial_sort(slowest.begin(), slowest.begin() + std::min<std::size_t>(5, slowest.size()),
                        slowest.end(), [](const Slow& x, const Slow& y) { return x.ms > y.ms; });
      if (slowest.size() > 5) slowest.resize(5);
    }
    base += r.served_bytes;
  }
  return acc;
}

int Run(const RunOptions& options, Figures* figures) {
  const std::string mount_bytes = LoadMount(options);
  if (mount_bytes.empty()) {
    std::fprintf(stderr, "empty stream\n");
    return 1;
  }

  std::filesystem::path log_dir;
  if (options.log_file) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ntrip-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    log_dir = pattern;
  }

  const caster::CasterOptions caster_options = BenchCaster(options, mount_bytes);

  std::printf("ntrip-bench: %sduration %.0f s, rate %s, %s, restarts %s, log %s, decode %s\n",
              options.tls_cert_file.empty() ? "" : "TLS, ", options.duration_s,
              options.rate > 0
                  ? (std::to_string(static_cast<long long>(options.rate)) + " B/s").c_str()
                  : "full speed",
              options.rate > 0
                  ? (options.whole_frames ? "one whole frame per write" : "rate/50-byte writes")
                  : "64 KiB writes",
              options.restart_every_s > 0
                  ? ("about every " + std::to_string(options.restart_every_s) + " s").c_str()
                  : "none",
              options.log_file ? ("file (" + log_dir.string() + ")").c_str() : "none",
              options.decode ? "on" : "off");
  std::printf("  stream: %s, %zu bytes looped per connection%s\n",
              options.recording.empty() ? "synthetic MSM 7 epochs" : options.recording.c_str(),
              mount_bytes.size(),
              options.recording.empty()
                  ? (", " + std::to_string(MsmEpochBytes()) + " bytes per epoch (5 frames)").c_str()
                  : "");
  std::printf("  package: %s\n", options.package.c_str());
  std::fflush(stdout);
  std::printf("  note: caster and engine run in this one process; memory and CPU cover both\n");

  ReportTally reports;
  RawSink raw;
  std::atomic<std::uint64_t> decoded_bytes{0}, decoded_elements{0};
  const Memory before_setup = ReadMemory();

  CasterSeries casters(caster_options);
  auto engine = std::make_unique<maps_host::Engine>(maps_host::EngineOptions{
      .sampling_period_scale = 1.0,
      .report_sink = [&](const maps_host::Report& r) { reports.Take(r); }});
  engine->LoadPackage(options.package);
  maps_host::Instance& client = engine->CreateInstance("NTRIP_Client", "NTRIP_Client_1");
  client.SetProperty("ip", "127.0.0.1");
  client.SetProperty("port", std::to_string(casters.Port()));
  client.SetProperty("mountpoint", kMount);
  client.SetProperty("username", kUser);
  client.SetProperty("password", kPassword);
  client.SetProperty("decode_rtcm", options.decode ? "true" : "false");
  client.SetProperty("log_destination", options.log_file ? "Log" : "Nothing");
  if (options.log_file) client.SetProperty("logging_path", log_dir.string());
  if (!options.tls_cert_file.empty()) {
    client.SetProperty("tls", "true");
    client.SetProperty("tls_ca_file", options.tls_ca_file);
  }
  client.SetOutputConsumer("oRawRTCM", [&](const maps_host::OutputElement& e) {
    raw.Take(std::string_view(reinterpret_cast<const char*>(e.data.data()), e.data.size()));
  });
  client.SetOutputConsumer("oDecodeRTCM", [&](const maps_host::OutputElement& e) {
    decoded_bytes += e.data.size();
    ++decoded_elements;
  });

  const Memory at_start = ReadMemory();
  const std::vector<double> position{48.8584, 2.2945, 35.0, 0.02};
  client.PushSample("iGPSPos", position);
  const double cpu_start = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  client.Start();

  std::mt19937 rng(options.seed);
  auto next_restart_after = [&] {
    std::uniform_real_distribution<double> jitter(0.7, 1.3);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.restart_every_s * jitter(rng)));
  };
  const auto end = t0 + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(options.duration_s));
  auto next_push = t0 + 1s;
  auto next_minute = t0 + 60s;
  auto next_restart =
      options.restart_every_s > 0 ? t0 + next_restart_after() : Clock::time_point::max();
  Memory after_first_minute;
  std::uint64_t out_at_minute = 0;
  while (Clock::now() < end) {
    std::this_thread::sleep_until(std::min({end, next_push, next_minute, next_restart}));
    const auto now = Clock::now();
    if (now >= next_push) {
      client.PushSample("iGPSPos", position);
      next_push += 1s;
    }
    if (now >= next_restart && now < end) {
      if (!casters.Restart()) break;
      next_restart = now + next_restart_after();
    }
    if (now >= next_minute && now < end + 1s) {
      const Memory m = ReadMemory();
      if (after_first_minute.rss_kib < 0) after_first_minute = m;
      const std::uint64_t out = raw.Total();
      std::printf(
          "  t=%4.0f s  VmRSS %7lld KiB  VmHWM %7lld KiB  out %12llu B (+%.0f B/s)  "
          "connections %zu\n",
          Seconds(now - t0), static_cast<long long>(m.rss_kib), static_cast<long long>(m.peak_kib),
          static_cast<unsigned long long>(out), static_cast<double>(out - out_at_minute) / 60.0,
          casters.ConnectionsSoFar());
      std::fflush(stdout);
      out_at_minute = out;
      next_minute += 60s;
    }
  }
  const auto t_end = Clock::now();
  const double cpu_used = ProcessCpuSeconds() - cpu_start;
  const std::uint64_t out_at_end = raw.Total();
  const Memory at_end = ReadMemory();
  const std::vector<ThreadTimes> threads = ReadThreadTimes();
  const SocketQueues queues = ReadSocketQueues(casters.Port());
  const std::uint64_t served_before_stop = casters.ServedSoFar();
  const std::uint64_t out_before_stop = raw.Total();

  // Stop serving first, then give the client the bytes already written before stopping it:
  // whatever is still missing afterwards was in flight at the stop.
  casters.StopCurrent();
  std::uint64_t served_total = 0;
  for (const auto& r : casters.Records()) served_total += r.served_bytes;
  // Wait as long as the client keeps delivering (a backlog can take a while), but not forever.
  auto last_progress = Clock::now();
  for (std::uint64_t seen = raw.Total();
       seen < served_total && Clock::now() - last_progress < 2s;) {
    std::this_thread::sleep_for(5ms);
    const std::uint64_t now_out = raw.Total();
    if (now_out != seen) last_progress = Clock::now();
    seen = now_out;
  }
  const double drain_s = Seconds(Clock::now() - t_end);
  client.Stop();
  const std::uint64_t out_total = raw.Total();
  const std::uint64_t out_hash = raw.Hash();
  const std::vector<Arrival> arrivals = raw.Arrivals();

  // Accounting: the raw output must be the concatenation of what each connection served.
  std::printf("\nconnections (each serves the stream from its start):\n");
  const auto& records = casters.Records();
  const Accounting acc = CheckConnections(records, arrivals, mount_bytes, out_total, t0,
                                          options.drop_every_s > 0);
  const std::size_t serving = acc.serving, marks_unmatched = acc.marks_unmatched;
  std::vector<double> delays_ms = acc.delays_ms, steady_ms = acc.steady_ms,
                      drop_gaps_ms = acc.drop_gaps_ms;
  const std::vector<Slow>& slowest = acc.slowest;
  const std::uint64_t expected_hash = acc.expected_hash, hashed = acc.hashed;
  const bool content_equal = hashed == out_total && expected_hash == out_hash;
  std::printf(
      "  total served %llu B, out %llu B, in flight at stop %lld B, extra %lld B; "
      "content %s\n",
      static_cast<unsigned long long>(served_total), static_cast<unsigned long long>(out_total),
      static_cast<long long>(served_total > out_total ? served_total - out_total : 0),
      static_cast<long long>(out_total > served_total ? out_total - served_total : 0),
      content_equal ? "EQUAL to the concatenation of what was served (FNV-1a 64)"
                    : "DIFFERS from what was served");
  std::printf(
      "  connections %zu (serving %zu), reconnects %zu, caster restarts %zu, raw elements "
      "%llu, decoded elements %llu (%llu B)\n",
      records.size(), serving, serving > 0 ? serving - 1 : 0, casters.Restarts(),
      static_cast<unsigned long long>(raw.Elements()),
      static_cast<unsigned long long>(decoded_elements.load()),
      static_cast<unsigned long long>(decoded_bytes.load()));

  std::printf("  after the caster stopped, the client delivered for %.2f s more\n", drain_s);
  std::printf(
      "  just before the caster stopped: served %llu B, out %llu B; kernel queues: caster "
      "send %llu B, client receive %llu B (client send %llu, caster receive %llu); so "
      "about %lld B were inside the client process\n",
      static_cast<unsigned long long>(served_before_stop),
      static_cast<unsigned long long>(out_before_stop),
      static_cast<unsigned long long>(queues.server_send),
      static_cast<unsigned long long>(queues.client_receive),
      static_cast<unsigned long long>(queues.client_send),
      static_cast<unsigned long long>(queues.server_receive),
      static_cast<long long>(served_before_stop) - static_cast<long long>(out_before_stop) -
          static_cast<long long>(queues.server_send + queues.client_receive));
  if (options.drop_every_s > 0) {
    const Percentiles g = Summarise(std::move(drop_gaps_ms));
    std::printf(
        "\ndrops (the caster closes each connection after %.1f s): %zu; gap from a close to the "
        "next connection's first byte at oRawRTCM: p50 %.3f s  p99 %.3f s  max %.3f s; raw "
        "output %s across connections\n",
        options.drop_every_s, g.count, g.p50_ms / 1000, g.p99_ms / 1000, g.max_ms / 1000,
        content_equal ? "byte-exact" : "NOT byte-exact");
  }
  const Percentiles p = Summarise(std::move(delays_ms));
  std::printf(
      "\ndelay caster write -> oRawRTCM consumer (%zu writes, %zu unmatched):\n"
      "  min %.3f ms  p50 %.3f ms  p99 %.3f ms  max %.3f ms\n",
      p.count, marks_unmatched, p.min_ms, p.p50_ms, p.p99_ms, p.max_ms);
  const Percentiles q = Summarise(std::move(steady_ms));
  std::printf(
      "  without each connection's first write (%zu writes): min %.3f ms  p50 %.3f ms  "
      "p99 %.3f ms  max %.3f ms\n",
      q.count, q.min_ms, q.p50_ms, q.p99_ms, q.max_ms);
  for (const auto& s : slowest)
    std::printf("  slow: %.3f ms, connection #%zu write %zu at t=%.3f s\n", s.ms, s.connection,
                s.write, s.at_s);

  const double wall = Seconds(t_end - t0);
  if (figures != nullptr) {
    *figures = {p.p50_ms, p.p99_ms, static_cast<double>(out_at_end) / (1024.0 * 1024.0) / wall,
                out_at_end > 0 ? cpu_used / (static_cast<double>(out_at_end) / 1e6) : 0};
  }
  std::printf("\nthroughput %.3f MiB/s (%llu B out in %.2f s)\n",
              static_cast<double>(out_at_end) / (1024.0 * 1024.0) / wall,
              static_cast<unsigned long long>(out_at_end), wall);
  std::printf(
      "CPU %.2f s in %.2f s: %.1f %% of one core (process: caster + engine + client + "
      "this bench's own accounting), %u cores\n",
      cpu_used, wall, 100.0 * cpu_used / wall, std::thread::hardware_concurrency());
  PrintThreadsAndMemory(threads, {before_setup, at_start, after_first_minute, at_end});
  if (options.log_file) {
    std::size_t files = 0;
    const std::uint64_t bytes = FolderBytes(log_dir, files);
    std::printf("log: %zu files, %llu B in %s%s\n", files, static_cast<unsigned long long>(bytes),
                log_dir.c_str(), options.keep_log ? "" : " (removed)");
  }
  reports.Print();
  engine.reset();
  if (options.log_file && !options.keep_log) {
    std::error_code ec;
    std::filesystem::remove_all(log_dir, ec);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace ntrip_bench
