#pragma once
// ntrip-host against a bare relay, in one run. One caster serves two mount points with the same
// bytes: ntrip-host (a child process, raw output to a pipe) takes one; a bare relay (a child
// process of one thread: read the caster's socket, write a pipe) takes the other. The bench reads both pipes and times
// each caster write to the moment its last byte comes out of the pipe.
#include <string>

namespace ntrip_bench {

struct RelayRunOptions {
  double duration_s = 30;
  double rate = 3000;        // bytes per second, whole frames per write
  bool decode = true;        // the component's decode_rtcm
  std::string host_program;  // ntrip-host
  std::string package;
};

// Prints both delays and their ratios; returns 0, or 1 when the run could not be set up.
int CompareWithRelay(const RelayRunOptions& options);

// The bench started as the bare relay: `ntrip-bench --relay-child PORT`, the stream on stdout
// until SIGTERM.
inline constexpr const char* kRelayChildOption = "--relay-child";
int RunRelayChild(std::uint16_t port);

}  // namespace ntrip_bench
