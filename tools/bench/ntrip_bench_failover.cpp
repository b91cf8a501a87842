#include "ntrip_bench_failover.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "pipe_reader.h"
#include "replay_caster.h"

namespace ntrip_bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Bounds the waits of a cycle: well past the switch time, the probe period and a connection.
constexpr auto kCycleBound = 180s;

caster::CasterOptions Serving(const std::string& recording, std::uint16_t port) {
  caster::CasterOptions options;
  options.port = port;
  options.mounts.push_back({"TEST", caster::ReadFileBytes(std::string(NTRIP_DATA_DIR) + "/" + recording)});
  options.user = "bench";
  options.password = "bench";
  return options;
}

// ntrip-host with its raw output on a pipe; a thread reads it and notes when each byte came.
class HostRun {
 public:
  explicit HostRun(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      // The casters' listeners stay the bench's: a restarted caster binds its port again.
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    reader_ = std::jthread([this, fd = out[0]] { Read(fd); });
  }
  ~HostRun() { Stop(); }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
  }

  std::size_t Size() const {
    std::scoped_lock lock(mutex_);
    return bytes_.size();
  }
  std::string Bytes() const {
    std::scoped_lock lock(mutex_);
    return bytes_;
  }
  // When the byte at `offset` came.
  Clock::time_point ArrivalOf(std::size_t offset) const {
    std::scoped_lock lock(mutex_);
    for (const auto& [end, when] : marks_) {
      if (end > offset) return when;
    }
    return Clock::time_point::max();
  }

 private:
  void Read(int fd) {
    fixtures::ReadPipeToEnd(fd, [this](std::string_view bytes) {
      std::scoped_lock lock(mutex_);
      bytes_.append(bytes);
      marks_.emplace_back(bytes_.size(), Clock::now());
    });
  }

  pid_t pid_ = -1;
  mutable std::mutex mutex_;
  std::string bytes_;
  std::vector<std::pair<std::size_t, Clock::time_point>> marks_;
  std::jthread reader_;
};

bool WaitFor(const std::function<bool()>& done, Clock::duration bound) {
  const Clock::time_point end = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);  // a benchmark's poll, not a test's synchronisation
  }
  return true;
}

struct Connection {
  int caster = 0;  // 0 preferred (any of its lives), 1 fallback
  int life = 0;    // which run of the preferred caster
  caster::ConnectionRecord record;
};

struct Segment {
  const Connection* connection;
  std::size_t offset, length;
};

// Cuts the output into connections' bytes: each run of the output is what one connection served
// from its start (up to where the host stopped reading it), the connections in the order they
// were served. Connections with nothing in the output (the probes' own, refused set-ups) are
// passed over; when a choice fails further on, the next one is tried.
bool Cut(std::string_view output, const std::vector<Connection>& connections, std::size_t offset,
         std::size_t from, std::vector<Segment>& segments) {
  if (offset == output.size()) return true;
  for (std::size_t i = from; i < connections.size(); ++i) {
    const std::string& served = connections[i].record.served;
    std::size_t n = 0;
    while (offset + n < output.size() && n < served.size() && output[offset + n] == served[n]) ++n;
    if (n == 0) continue;
    segments.push_back({&connections[i], offset, n});
    if (Cut(output, connections, offset + n, i + 1, segments)) return true;
    segments.pop_back();
  }
  return false;
}

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

void PrintSpread(const char* what, std::vector<double> values) {
  if (values.empty()) {
    std::printf("%s: none measured\n", what);
    return;
  }
  std::sort(values.begin(), values.end());
  std::printf("%s: p50 %.0f ms, max %.0f ms (%zu)\n", what, values[values.size() / 2],
              values.back(), values.size());
}

std::string Number(double value) {
  char number[32];
  std::snprintf(number, sizeof number, "%g", value);
  return number;
}

std::vector<std::string> HostArguments(const FailoverOptions& options, std::uint16_t port,
                                       std::uint16_t fallback_port) {
  return {options.host_program, "--set", "ip=127.0.0.1", "--set",
          "port=" + std::to_string(port), "--set", "mountpoint=TEST", "--set",
          "username=bench", "--set", "password=bench", "--set", "log_destination=Nothing",
          "--position", "48.1,11.5,520,0.02", "--quiet", "--raw-out", "-", "--fallback",
          "127.0.0.1:" + std::to_string(fallback_port) + "/TEST", "--switch-after",
          Number(options.switch_after_s), "--probe-period", Number(options.probe_period_s)};
}

// The preferred caster, killed and started again on its port each cycle, and the fallback; every
// connection either served is kept with the caster and the life it came from.
class CasterPair {
 public:
  CasterPair()
      : preferred_(std::make_unique<caster::ReplayCaster>(Serving(kPreferredRecording, 0))),
        port_(preferred_->Port()),
        fallback_(Serving("pygpsdata-RTCMMSM3.log", 0)) {}

  std::uint16_t PreferredPort() const { return port_; }
  std::uint16_t FallbackPort() const { return fallback_.Port(); }
  const std::vector<Clock::time_point>& Deaths() const { return deaths_; }
  const std::vector<Clock::time_point>& Restarts() const { return restarts_; }

  // The preferred caster dies once corrections came from it, the fallback is taken, the
  // preferred caster comes back and is taken back. False (said on stderr) when a step never came.
  bool Cycle(const HostRun& host) {
    // Corrections flow from the preferred caster for a few seconds.
    const std::size_t before = host.Size();
    if (!WaitFor([&] { return host.Size() >= before + 3000; }, kCycleBound)) {
      std::fprintf(stderr, "failover: no corrections from the preferred caster\n");
      return false;
    }
    deaths_.push_back(Clock::now());
    preferred_->Stop();
    KeepPreferred(life_++);
    preferred_.reset();
    const std::size_t served_before = fallback_.ConnectionCount();
    if (!WaitFor([&] {
          return fallback_.ConnectionCount() > served_before &&
                 fallback_.Connection(fallback_.ConnectionCount() - 1).served.size() >= 3000;
        },
                 kCycleBound)) {
      std::fprintf(stderr, "failover: the fallback caster was never taken\n");
      return false;
    }
    restarts_.push_back(Clock::now());
    preferred_ = std::make_unique<caster::ReplayCaster>(Serving(kPreferredRecording, port_));
    if (!WaitFor([&] {
          for (std::size_t i = 0; i < preferred_->ConnectionCount(); ++i) {
            if (preferred_->Connection(i).served.size() >= 3000) return true;
          }
          return false;
        },
                 kCycleBound)) {
      std::fprintf(stderr, "failover: the preferred caster was never taken back\n");
      return false;
    }
    return true;
  }

  // After the host's stop: every connection, in the order each began serving.
  std::vector<Connection> Connections() {
    KeepPreferred(life_);
    for (std::size_t i = 0; i < fallback_.ConnectionCount(); ++i) {
      connections_.push_back({1, 0, fallback_.Connection(i)});
    }
    std::stable_sort(connections_.begin(), connections_.end(),
                     [](const Connection& a, const Connection& b) {
                       const auto first = [](const Connection& c) {
                         return c.record.writes.empty() ? Clock::time_point::max()
                                                        : c.record.writes.front().when;
                       };
                       return first(a) < first(b);
                     });
    return connections_;
  }

 private:
  static constexpr const char* kPreferredRecording = "pygpsdata-RTCM3.log";

  void KeepPreferred(int life) {
    for (std::size_t i = 0; i < preferred_->ConnectionCount(); ++i) {
      connections_.push_back({0, life, preferred_->Connection(i)});
    }
  }

  std::unique_ptr<caster::ReplayCaster> preferred_;
  const std::uint16_t port_;
  caster::ReplayCaster fallback_;
  int life_ = 0;
  std::vector<Connection> connections_;
  std::vector<Clock::time_point> deaths_, restarts_;
};

// The gaps of each switch, and whether the output is every connection's bytes once and in order.
int PrintOutcome(const HostRun& host, const std::vector<Connection>& connections,
                 const CasterPair& casters) {
  const std::vector<Clock::time_point>& deaths = casters.Deaths();
  const std::vector<Clock::time_point>& restarts = casters.Restarts();
  const std::string output = host.Bytes();
  std::vector<Segment> segments;
  const bool whole = Cut(output, connections, 0, 0, segments);
  std::vector<double> to_fallback, back;
  std::size_t tails = 0;
  for (const Segment& segment : segments) {
    tails += segment.connection->record.served.size() - segment.length;
    const Clock::time_point arrived = host.ArrivalOf(segment.offset);
    if (segment.connection->caster == 1) {
      const std::size_t death = to_fallback.size();
      if (death < deaths.size()) to_fallback.push_back(Ms(arrived - deaths[death]));
    } else if (segment.connection->life > 0) {
      const std::size_t restart = static_cast<std::size_t>(segment.connection->life - 1);
      if (restart < restarts.size() && back.size() == restart) {
        back.push_back(Ms(arrived - restarts[restart]));
      }
    }
  }
  PrintSpread("death of the preferred caster to the fallback's first byte on the raw output",
              to_fallback);
  PrintSpread("restart of the preferred caster to its first byte on the raw output again", back);
  std::printf("raw output: %zu bytes in %zu runs of %zu connections; each connection's bytes "
              "once and in order: %s (served but not read before a switch: %zu bytes)\n",
              output.size(), segments.size(), connections.size(), whole ? "yes" : "no", tails);
  return whole ? 0 : 1;
}

}  // namespace

int RunFailover(const FailoverOptions& options) {
  CasterPair casters;
  HostRun host(HostArguments(options, casters.PreferredPort(), casters.FallbackPort()));
  std::printf("failover: ntrip-host, preferred caster 127.0.0.1:%u, fallback 127.0.0.1:%u, "
              "--switch-after %g, --probe-period %g, %d deaths\n",
              static_cast<unsigned>(casters.PreferredPort()),
              static_cast<unsigned>(casters.FallbackPort()), options.switch_after_s,
              options.probe_period_s, options.cycles);
  std::fflush(stdout);
  for (int cycle = 0; cycle < options.cycles; ++cycle) {
    if (!casters.Cycle(host)) return 1;
  }
  std::this_thread::sleep_for(2s);
  host.Stop();
  const std::vector<Connection> connections = casters.Connections();
  return PrintOutcome(host, connections, casters);
}

}  // namespace ntrip_bench
