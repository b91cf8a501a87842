#include "ntrip_bench_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ntrip_bench_stream.h"
#include "replay_caster.h"

extern char** environ;

namespace ntrip_bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kHostMount = "HOST";
constexpr const char* kRelayMount = "RELAY";
// Every wait of the bench's own threads ends this often to look at the stop.
constexpr int kPollMs = 100;

struct Arrival {
  std::uint64_t end;  // bytes out of the pipe so far
  Clock::time_point when;
};

// Reads one pipe to its end, noting when each read came and how far the stream had got.
class PipeReader {
 public:
  explicit PipeReader(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~PipeReader() {
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  // After the writer's end is closed: the thread ends at the pipe's end.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::vector<Arrival> Arrivals() const {
    std::scoped_lock lock(mutex_);
    return arrivals_;
  }

 private:
  void Run() {
    char buffer[65536];
    std::uint64_t total = 0;
    while (true) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      const auto now = Clock::now();
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      total += static_cast<std::uint64_t>(n);
      std::scoped_lock lock(mutex_);
      arrivals_.push_back({total, now});
    }
  }

  const int fd_;
  mutable std::mutex mutex_;
  std::vector<Arrival> arrivals_;
  std::jthread thread_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::atomic<bool> relay_stop{false};

// What a minimal NTRIP client does: request, skip the answer's head, then read and write.
void Relay(std::uint16_t port, int out_fd, const std::atomic<bool>& stop) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request =
      std::string("GET /") + kRelayMount + " HTTP/1.0\r\nUser-Agent: NTRIP bare-relay\r\n\r\n";
  if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      !WriteAll(s, request.data(), request.size())) {
    std::fprintf(stderr, "bare relay: cannot reach the caster: %s\n", std::strerror(errno));
    if (s >= 0) ::close(s);
    return;
  }
  std::string head;
  bool streaming = false;
  char buffer[2048];
  while (!stop.load()) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0) continue;
    const ssize_t n = ::read(s, buffer, sizeof buffer);
    if (n <= 0) break;
    if (streaming) {
      if (!WriteAll(out_fd, buffer, static_cast<std::size_t>(n))) break;
      continue;
    }
    head.append(buffer, static_cast<std::size_t>(n));
    // "ICY 200 OK" and a blank line: the stream starts after it.
    const std::size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    streaming = true;
    if (!WriteAll(out_fd, head.data() + end + 4, head.size() - end - 4)) break;
  }
  ::close(s);
}

struct Delays {
  std::vector<double> ms;
  std::size_t unmatched = 0;
};

Delays Match(const caster::ConnectionRecord& record, const std::vector<Arrival>& arrivals) {
  Delays delays;
  for (const caster::WriteMark& w : record.writes) {
    const auto a = std::lower_bound(arrivals.begin(), arrivals.end(), w.end_offset,
                                    [](const Arrival& x, std::uint64_t v) { return x.end < v; });
    if (a == arrivals.end()) {
      ++delays.unmatched;
      continue;
    }
    delays.ms.push_back(std::chrono::duration<double, std::milli>(a->when - w.when).count());
  }
  return delays;
}

double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto i = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

// `program` with its standard output into the pipe `out_fd` and its standard error to /dev/null.
pid_t Spawn(std::vector<std::string> args, int out_fd) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(error));
    return -1;
  }
  return pid;
}

// The bare relay is a process of its own, as ntrip-host is: a thread of the bench would switch
// between threads of one process, which costs less than between processes, and flatter it.
pid_t StartRelay(std::uint16_t port, int out_fd) {
  std::error_code ec;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  if (ec) {
    std::fprintf(stderr, "cannot find this program for the bare relay: %s\n", ec.message().c_str());
    return -1;
  }
  return Spawn({self, kRelayChildOption, std::to_string(port)}, out_fd);
}

// ntrip-host with its raw output into the pipe `out_fd`; its own lines go to /dev/null.
pid_t StartHost(const RelayRunOptions& options, std::uint16_t port, int out_fd) {
  std::vector<std::string> args = {options.host_program,
                                   "--package",
                                   options.package,
                                   "--set",
                                   "ip=127.0.0.1",
                                   "--set",
                                   "port=" + std::to_string(port),
                                   "--set",
                                   std::string("mountpoint=") + kHostMount,
                                   "--set",
                                   "log_destination=Nothing",
                                   "--set",
                                   options.decode ? "decode_rtcm=true" : "decode_rtcm=false",
                                   "--position",
                                   "48.8584,2.2945,35,0.02",
                                   "--raw-out",
                                   "-",
                                   "--quiet"};
  return Spawn(std::move(args), out_fd);
}

// The host stops within its own shutdown limit (10 s); past a generous bound it is killed.
void StopChild(pid_t pid) {
  ::kill(pid, SIGTERM);
  const auto give_up = Clock::now() + 20s;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= give_up) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(10ms);
  }
}

struct Sides {
  Delays host, relay;
};

// Each caster write against the moment its last byte came out of that side's pipe; only each
// side's first connection counts: its bytes start the pipe.
Sides MatchSides(const caster::ReplayCaster& caster, const PipeReader& host_reader,
                 const PipeReader& relay_reader) {
  Sides sides;
  std::size_t host_connections = 0, relay_connections = 0;
  for (std::size_t i = 0; i < caster.ConnectionCount(); ++i) {
    const caster::ConnectionRecord record = caster.Connection(i);
    const bool is_relay = record.request.starts_with(std::string("GET /") + kRelayMount + " ");
    std::size_t& count = is_relay ? relay_connections : host_connections;
    if (count++ > 0) continue;
    (is_relay ? sides.relay : sides.host) =
        Match(record, (is_relay ? relay_reader : host_reader).Arrivals());
  }
  if (host_connections != 1 || relay_connections != 1) {
    std::printf("  note: connections: ntrip-host %zu, bare relay %zu (only the first counted)\n",
                host_connections, relay_connections);
  }
  return sides;
}

void PrintDelays(const Sides& sides) {
  std::printf("delay caster write -> read from the pipe:\n");
  std::printf("               writes  unmatched    p50 ms    p99 ms    max ms\n");
  for (const auto& [name, d] :
       {std::pair{"bare relay", &sides.relay}, std::pair{"ntrip-host", &sides.host}}) {
    std::printf("  %-11s %7zu  %9zu  %8.3f  %8.3f  %8.3f\n", name, d->ms.size(), d->unmatched,
                Quantile(d->ms, 0.5), Quantile(d->ms, 0.99), Quantile(d->ms, 1.0));
  }
  const double p50 = Quantile(sides.relay.ms, 0.5), p99 = Quantile(sides.relay.ms, 0.99);
  if (p50 > 0 && p99 > 0) {
    std::printf("  ratio ntrip-host / bare relay: p50 %.2fx  p99 %.2fx\n",
                Quantile(sides.host.ms, 0.5) / p50, Quantile(sides.host.ms, 0.99) / p99);
  }
  std::fflush(stdout);
}

}  // namespace

int RunRelayChild(std::uint16_t port) {
  struct sigaction action {};
  action.sa_handler = [](int) { relay_stop.store(true); };
  ::sigaction(SIGTERM, &action, nullptr);
  Relay(port, STDOUT_FILENO, relay_stop);
  return 0;
}

int CompareWithRelay(const RelayRunOptions& options) {
  const std::string stream = MsmEpochs(300);
  caster::CasterOptions caster_options;
  caster_options.listen_address = "127.0.0.1";
  caster_options.mounts.push_back({kHostMount, stream});
  caster_options.mounts.push_back({kRelayMount, stream});
  caster_options.rate = options.rate;
  caster_options.whole_frames = true;
  caster_options.record_payload = false;
  caster::ReplayCaster caster(caster_options);

  int host_pipe[2], relay_pipe[2];
  if (::pipe2(host_pipe, O_CLOEXEC) != 0 || ::pipe2(relay_pipe, O_CLOEXEC) != 0) {
    std::perror("pipe");
    return 1;
  }
  const pid_t host = StartHost(options, caster.Port(), host_pipe[1]);
  ::close(host_pipe[1]);
  const pid_t relay = StartRelay(caster.Port(), relay_pipe[1]);
  ::close(relay_pipe[1]);
  PipeReader host_reader(host_pipe[0]);
  PipeReader relay_reader(relay_pipe[0]);
  if (host < 0 || relay < 0) {
    if (host > 0) StopChild(host);
    if (relay > 0) StopChild(relay);
    return 1;
  }

  std::printf(
      "ntrip-host (%s, decode %s) against a bare relay, %.0f s at %.0f B/s (one whole frame per "
      "write), both from one caster on loopback, both into a pipe read by this bench\n",
      options.host_program.c_str(), options.decode ? "on" : "off", options.duration_s,
      options.rate);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(options.duration_s));

  StopChild(host);
  StopChild(relay);
  host_reader.Join();
  relay_reader.Join();
  caster.Stop();

  const Sides sides = MatchSides(caster, host_reader, relay_reader);
  PrintDelays(sides);
  return sides.host.ms.empty() || sides.relay.ms.empty() ? 1 : 0;
}

}  // namespace ntrip_bench
