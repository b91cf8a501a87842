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
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"
#include "ntrip_bench_accounting.h"
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

// Where the log files go when the run logs to files: a fresh temporary folder.
bool MakeLogFolder(std::filesystem::path& log_dir) {
  std::string pattern = (std::filesystem::temp_directory_path() / "ntrip-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return false;
  }
  log_dir = pattern;
  return true;
}

void PrintHeading(const RunOptions& options, const std::string& mount_bytes,
                  const std::filesystem::path& log_dir) {
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
}

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

// One measured run: the caster and the engine with one client instance in this process, and what
// each step finds for the next. What the engine's consumers and report sink write to is declared
// before the engine, so it outlives it.
class BenchRun {
 public:
  BenchRun(const RunOptions& options, const std::string& mount_bytes,
           const std::filesystem::path& log_dir)
      : options_(options), mount_bytes_(mount_bytes), log_dir_(log_dir) {}

  void SetUp(const caster::CasterOptions& caster_options);
  void Measure();
  void Drain();
  void Report(Figures* figures);
  void TearDown();

 private:
  void RunUntilTheEnd();
  void PrintMinute(Clock::time_point now, std::uint64_t& out_at_minute);
  Accounting PrintConnections();
  Percentiles PrintDelays(Accounting acc);
  void PrintCosts(const Percentiles& delay, Figures* figures);

  const RunOptions& options_;
  const std::string& mount_bytes_;
  const std::filesystem::path& log_dir_;
  const std::vector<double> position_{48.8584, 2.2945, 35.0, 0.02};

  ReportTally reports_;
  RawSink raw_;
  std::atomic<std::uint64_t> decoded_bytes_{0}, decoded_elements_{0};
  MemoryMarks memory_;
  std::optional<CasterSeries> casters_;
  std::unique_ptr<maps_host::Engine> engine_;
  maps_host::Instance* client_ = nullptr;

  // The measured run, up to the caster's stop.
  Clock::time_point t0_, t_end_;
  double cpu_used_ = 0;
  std::uint64_t out_at_end_ = 0, served_before_stop_ = 0, out_before_stop_ = 0;
  std::vector<ThreadTimes> threads_;
  SocketQueues queues_;
  // After it.
  std::uint64_t served_total_ = 0, out_total_ = 0, out_hash_ = 0;
  double drain_s_ = 0;
  std::vector<Arrival> arrivals_;
  bool content_equal_ = false;
};

void BenchRun::SetUp(const caster::CasterOptions& caster_options) {
  memory_.before_setup = ReadMemory();
  casters_.emplace(caster_options);
  engine_ = std::make_unique<maps_host::Engine>(maps_host::EngineOptions{
      .sampling_period_scale = 1.0,
      .report_sink = [this](const maps_host::Report& r) { reports_.Take(r); }});
  engine_->LoadPackage(options_.package);
  maps_host::Instance& client = engine_->CreateInstance("NTRIP_Client", "NTRIP_Client_1");
  client.SetProperty("ip", "127.0.0.1");
  client.SetProperty("port", std::to_string(casters_->Port()));
  client.SetProperty("mountpoint", kMount);
  client.SetProperty("username", kUser);
  client.SetProperty("password", kPassword);
  client.SetProperty("decode_rtcm", options_.decode ? "true" : "false");
  client.SetProperty("log_destination", options_.log_file ? "Log" : "Nothing");
  if (options_.log_file) client.SetProperty("logging_path", log_dir_.string());
  if (!options_.tls_cert_file.empty()) {
    client.SetProperty("tls", "true");
    client.SetProperty("tls_ca_file", options_.tls_ca_file);
  }
  client.SetOutputConsumer("oRawRTCM", [this](const maps_host::OutputElement& e) {
    raw_.Take(std::string_view(reinterpret_cast<const char*>(e.data.data()), e.data.size()));
  });
  client.SetOutputConsumer("oDecodeRTCM", [this](const maps_host::OutputElement& e) {
    decoded_bytes_ += e.data.size();
    ++decoded_elements_;
  });
  client_ = &client;
}

// From the client's start to the end of the duration; then what the process and the kernel's
// queues hold at that moment, before anything is stopped.
void BenchRun::Measure() {
  memory_.at_start = ReadMemory();
  client_->PushSample("iGPSPos", position_);
  const double cpu_start = ProcessCpuSeconds();
  t0_ = Clock::now();
  client_->Start();
  RunUntilTheEnd();
  t_end_ = Clock::now();
  cpu_used_ = ProcessCpuSeconds() - cpu_start;
  out_at_end_ = raw_.Total();
  memory_.at_end = ReadMemory();
  threads_ = ReadThreadTimes();
  queues_ = ReadSocketQueues(casters_->Port());
  served_before_stop_ = casters_->ServedSoFar();
  out_before_stop_ = raw_.Total();
}

// A position each second, the caster's restarts, a line each minute.
void BenchRun::RunUntilTheEnd() {
  std::mt19937 rng(options_.seed);
  auto next_restart_after = [&] {
    std::uniform_real_distribution<double> jitter(0.7, 1.3);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.restart_every_s * jitter(rng)));
  };
  const auto end = t0_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(options_.duration_s));
  auto next_push = t0_ + 1s;
  auto next_minute = t0_ + 60s;
  auto next_restart =
      options_.restart_every_s > 0 ? t0_ + next_restart_after() : Clock::time_point::max();
  std::uint64_t out_at_minute = 0;
  while (Clock::now() < end) {
    std::this_thread::sleep_until(std::min({end, next_push, next_minute, next_restart}));
    const auto now = Clock::now();
    if (now >= next_push) {
      client_->PushSample("iGPSPos", position_);
      next_push += 1s;
    }
    if (now >= next_restart && now < end) {
      if (!casters_->Restart()) break;
      next_restart = now + next_restart_after();
    }
    if (now >= next_minute && now < end + 1s) {
      PrintMinute(now, out_at_minute);
      next_minute += 60s;
    }
  }
}

void BenchRun::PrintMinute(Clock::time_point now, std::uint64_t& out_at_minute) {
  const Memory m = ReadMemory();
  if (memory_.after_first_minute.rss_kib < 0) memory_.after_first_minute = m;
  const std::uint64_t out = raw_.Total();
  std::printf(
      "  t=%4.0f s  VmRSS %7lld KiB  VmHWM %7lld KiB  out %12llu B (+%.0f B/s)  "
      "connections %zu\n",
      Seconds(now - t0_), static_cast<long long>(m.rss_kib), static_cast<long long>(m.peak_kib),
      static_cast<unsigned long long>(out), static_cast<double>(out - out_at_minute) / 60.0,
      casters_->ConnectionsSoFar());
  std::fflush(stdout);
  out_at_minute = out;
}

// Stop serving first, then give the client the bytes already written before stopping it:
// whatever is still missing afterwards was in flight at the stop.
void BenchRun::Drain() {
  casters_->StopCurrent();
  for (const auto& r : casters_->Records()) served_total_ += r.served_bytes;
  // Wait as long as the client keeps delivering (a backlog can take a while), but not forever.
  auto last_progress = Clock::now();
  for (std::uint64_t seen = raw_.Total();
       seen < served_total_ && Clock::now() - last_progress < 2s;) {
    std::this_thread::sleep_for(5ms);
    const std::uint64_t now_out = raw_.Total();
    if (now_out != seen) last_progress = Clock::now();
    seen = now_out;
  }
  drain_s_ = Seconds(Clock::now() - t_end_);
  client_->Stop();
  out_total_ = raw_.Total();
  out_hash_ = raw_.Hash();
  arrivals_ = raw_.Arrivals();
}

void BenchRun::Report(Figures* figures) {
  const Percentiles delay = PrintDelays(PrintConnections());
  PrintCosts(delay, figures);
}

// Accounting: the raw output must be the concatenation of what each connection served.
Accounting BenchRun::PrintConnections() {
  std::printf("\nconnections (each serves the stream from its start):\n");
  const auto& records = casters_->Records();
  Accounting acc = CheckConnections(records, arrivals_, mount_bytes_, out_total_, t0_,
                                    options_.drop_every_s > 0);
  content_equal_ = acc.hashed == out_total_ && acc.expected_hash == out_hash_;
  std::printf(
      "  total served %llu B, out %llu B, in flight at stop %lld B, extra %lld B; "
      "content %s\n",
      static_cast<unsigned long long>(served_total_), static_cast<unsigned long long>(out_total_),
      static_cast<long long>(served_total_ > out_total_ ? served_total_ - out_total_ : 0),
      static_cast<long long>(out_total_ > served_total_ ? out_total_ - served_total_ : 0),
      content_equal_ ? "EQUAL to the concatenation of what was served (FNV-1a 64)"
                     : "DIFFERS from what was served");
  std::printf(
      "  connections %zu (serving %zu), reconnects %zu, caster restarts %zu, raw elements "
      "%llu, decoded elements %llu (%llu B)\n",
      records.size(), acc.serving, acc.serving > 0 ? acc.serving - 1 : 0, casters_->Restarts(),
      static_cast<unsigned long long>(raw_.Elements()),
      static_cast<unsigned long long>(decoded_elements_.load()),
      static_cast<unsigned long long>(decoded_bytes_.load()));

  std::printf("  after the caster stopped, the client delivered for %.2f s more\n", drain_s_);
  std::printf(
      "  just before the caster stopped: served %llu B, out %llu B; kernel queues: caster "
      "send %llu B, client receive %llu B (client send %llu, caster receive %llu); so "
      "about %lld B were inside the client process\n",
      static_cast<unsigned long long>(served_before_stop_),
      static_cast<unsigned long long>(out_before_stop_),
      static_cast<unsigned long long>(queues_.server_send),
      static_cast<unsigned long long>(queues_.client_receive),
      static_cast<unsigned long long>(queues_.client_send),
      static_cast<unsigned long long>(queues_.server_receive),
      static_cast<long long>(served_before_stop_) - static_cast<long long>(out_before_stop_) -
          static_cast<long long>(queues_.server_send + queues_.client_receive));
  return acc;
}

Percentiles BenchRun::PrintDelays(Accounting acc) {
  if (options_.drop_every_s > 0) {
    const Percentiles g = Summarise(std::move(acc.drop_gaps_ms));
    std::printf(
        "\ndrops (the caster closes each connection after %.1f s): %zu; gap from a close to the "
        "next connection's first byte at oRawRTCM: p50 %.3f s  p99 %.3f s  max %.3f s; raw "
        "output %s across connections\n",
        options_.drop_every_s, g.count, g.p50_ms / 1000, g.p99_ms / 1000, g.max_ms / 1000,
        content_equal_ ? "byte-exact" : "NOT byte-exact");
  }
  const Percentiles p = Summarise(std::move(acc.delays_ms));
  std::printf(
      "\ndelay caster write -> oRawRTCM consumer (%zu writes, %zu unmatched):\n"
      "  min %.3f ms  p50 %.3f ms  p99 %.3f ms  max %.3f ms\n",
      p.count, acc.marks_unmatched, p.min_ms, p.p50_ms, p.p99_ms, p.max_ms);
  const Percentiles q = Summarise(std::move(acc.steady_ms));
  std::printf(
      "  without each connection's first write (%zu writes): min %.3f ms  p50 %.3f ms  "
      "p99 %.3f ms  max %.3f ms\n",
      q.count, q.min_ms, q.p50_ms, q.p99_ms, q.max_ms);
  for (const auto& s : acc.slowest)
    std::printf("  slow: %.3f ms, connection #%zu write %zu at t=%.3f s\n", s.ms, s.connection,
                s.write, s.at_s);
  return p;
}

// Throughput, CPU, threads and memory, the log files and the reports.
void BenchRun::PrintCosts(const Percentiles& delay, Figures* figures) {
  const double wall = Seconds(t_end_ - t0_);
  const double mib_per_s = static_cast<double>(out_at_end_) / (1024.0 * 1024.0) / wall;
  if (figures != nullptr) {
    *figures = {delay.p50_ms, delay.p99_ms, mib_per_s,
                out_at_end_ > 0 ? cpu_used_ / (static_cast<double>(out_at_end_) / 1e6) : 0};
  }
  std::printf("\nthroughput %.3f MiB/s (%llu B out in %.2f s)\n", mib_per_s,
              static_cast<unsigned long long>(out_at_end_), wall);
  std::printf(
      "CPU %.2f s in %.2f s: %.1f %% of one core (process: caster + engine + client + "
      "this bench's own accounting), %u cores\n",
      cpu_used_, wall, 100.0 * cpu_used_ / wall, std::thread::hardware_concurrency());
  PrintThreadsAndMemory(threads_, memory_);
  if (options_.log_file) {
    std::size_t files = 0;
    const std::uint64_t bytes = FolderBytes(log_dir_, files);
    std::printf("log: %zu files, %llu B in %s%s\n", files, static_cast<unsigned long long>(bytes),
                log_dir_.c_str(), options_.keep_log ? "" : " (removed)");
  }
  reports_.Print();
}

void BenchRun::TearDown() {
  engine_.reset();
  if (options_.log_file && !options_.keep_log) {
    std::error_code ec;
    std::filesystem::remove_all(log_dir_, ec);
  }
  std::fflush(stdout);
}

}  // namespace

int Run(const RunOptions& options, Figures* figures) {
  const std::string mount_bytes = LoadMount(options);
  if (mount_bytes.empty()) {
    std::fprintf(stderr, "empty stream\n");
    return 1;
  }
  std::filesystem::path log_dir;
  if (options.log_file && !MakeLogFolder(log_dir)) return 1;
  const caster::CasterOptions caster_options = BenchCaster(options, mount_bytes);
  PrintHeading(options, mount_bytes, log_dir);

  BenchRun run(options, mount_bytes, log_dir);
  run.SetUp(caster_options);
  run.Measure();
  run.Drain();
  run.Report(figures);
  run.TearDown();
  return 0;
}

}  // namespace ntrip_bench
