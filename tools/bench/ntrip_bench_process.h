#pragma once
// What the benchmark reads about its own process: memory from /proc/self/status, CPU time from
// getrusage. The caster and the engine run in this same process.
#include <cstdint>
#include <string>
#include <vector>

namespace ntrip_bench {

struct Memory {
  std::int64_t rss_kib = -1;   // VmRSS
  std::int64_t peak_kib = -1;  // VmHWM
};
Memory ReadMemory();

// User + system CPU seconds of the whole process so far.
double ProcessCpuSeconds();

// Per live thread, from /proc/self/task/*/schedstat: time on a CPU, and time it was runnable but
// waited for a CPU (what a loaded machine adds to every hand-over between threads).
struct ThreadTimes {
  int tid = 0;
  std::string name;
  double cpu_s = 0;
  double wait_s = 0;
  std::uint64_t slices = 0;
};
std::vector<ThreadTimes> ReadThreadTimes();

// Bytes waiting in the kernel's TCP queues of the loopback connections to or from `port`
// (IPv4), from /proc/net/tcp: what is in flight between the caster's writes and the client's reads.
struct SocketQueues {
  std::uint64_t server_send = 0, server_receive = 0;  // sockets whose local port is `port`
  std::uint64_t client_send = 0, client_receive = 0;  // sockets whose remote port is `port`
};
SocketQueues ReadSocketQueues(unsigned port);

}  // namespace ntrip_bench
