// The process runner and the probe's command line: the system's command interpreter and ping
// differ between Windows and Linux.
#include <array>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "utils.h"

namespace tarno {

namespace {

#ifdef _WIN32
std::FILE* OpenPipe(const char* cmd) {
  return _popen(cmd, "r");
}
int ClosePipe(std::FILE* f) {
  return _pclose(f);
}
#else
std::FILE* OpenPipe(const char* cmd) {
  return popen(cmd, "r");
}
int ClosePipe(std::FILE* f) {
  return pclose(f);
}
#endif

struct PipeCloser {
  void operator()(std::FILE* f) const { ClosePipe(f); }
};

}  // namespace

std::string RunCommand(const std::string& command_line) {
  // One run through the interpreter only: a second, direct run would print the ping output on
  // the host's own standard output, where a sink may be writing the correction stream.
  std::unique_ptr<std::FILE, PipeCloser> pipe(OpenPipe(command_line.c_str()));
  if (!pipe) throw std::runtime_error("_popen() failed!");
  std::string result;
  std::array<char, 128> piece{};
  while (std::fgets(piece.data(), static_cast<int>(piece.size()), pipe.get()) != nullptr)
    result += piece.data();
  return result;
}

std::string ProbeCommandLine(const std::string& host) {
#ifdef _WIN32
  return "ping -n 1 " + host + " | find \"TTL=\"";
#else
  // Linux ping writes "ttl=" in lower case; the filter restores the marker the judgement expects.
  // A missing ping program prints nothing on standard output, which reads as "not available".
  return "ping -n -c 1 -W 2 " + host + " 2>/dev/null | grep -i \"ttl=\" | sed \"s/ttl=/TTL=/I\"";
#endif
}

}  // namespace tarno
