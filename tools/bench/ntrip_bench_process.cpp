#include "ntrip_bench_process.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace ntrip_bench {

Memory ReadMemory() {
  Memory m;
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> m.rss_kib;
    } else if (key == "VmHWM:") {
      status >> m.peak_kib;
    }
    std::string rest;
    std::getline(status, rest);
  }
  return m;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<ThreadTimes> ReadThreadTimes() {
  std::vector<ThreadTimes> threads;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    ThreadTimes t;
    t.tid = std::atoi(entry.path().filename().c_str());
    std::ifstream comm(entry.path() / "comm");
    std::getline(comm, t.name);
    std::ifstream sched(entry.path() / "schedstat");
    std::uint64_t cpu_ns = 0, wait_ns = 0;
    if (!(sched >> cpu_ns >> wait_ns >> t.slices)) continue;
    t.cpu_s = static_cast<double>(cpu_ns) * 1e-9;
    t.wait_s = static_cast<double>(wait_ns) * 1e-9;
    threads.push_back(t);
  }
  return threads;
}

SocketQueues ReadSocketQueues(unsigned port) {
  SocketQueues q;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    char local[64] = {}, remote[64] = {};
    unsigned state = 0;
    unsigned long long tx = 0, rx = 0;
    if (std::sscanf(line.c_str(), " %*u: %63s %63s %x %llx:%llx", local, remote, &state, &tx,
                    &rx) != 5)
      continue;
    auto port_of = [](const char* address) {
      const char* colon = std::strchr(address, ':');
      return colon ? static_cast<unsigned>(std::strtoul(colon + 1, nullptr, 16)) : 0U;
    };
    if (port_of(local) == port) {
      q.server_send += tx;
      q.server_receive += rx;
    } else if (port_of(remote) == port) {
      q.client_send += tx;
      q.client_receive += rx;
    }
  }
  return q;
}

}  // namespace ntrip_bench
