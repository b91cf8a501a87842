#include "common/decimal_text.h"
#include "sinks/file_sink.h"
#include "sinks/pipe_sink.h"
#include "sinks/serial_sink.h"
#include "sinks/tcp_listen_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ntrip_host {

std::string DroppedText(std::uint64_t elements, std::uint64_t bytes) {
  return Counted(elements, "element") + " (" + Counted(bytes, "byte") + ")";
}

std::unique_ptr<Sink> MakeSink(std::string_view text, std::string_view option,
                               const SinkSettings& settings) {
  if (text.empty()) {
    throw OptionError(std::string(option) +
                      ": expected FILE, -, tcp-listen://[ADDR:]PORT or serial:DEVICE[:BAUD]");
  }
  if (text == "-") {
    // A pipe whose reader stops reading must not hold the program: written without blocking.
    const int stream_fd = fileno(StreamStdout());
    if (IsPipeLike(stream_fd)) {
      const int fd = fcntl(stream_fd, F_DUPFD_CLOEXEC, 3);
      if (fd >= 0) return std::make_unique<PipeSink>(fd, "stdout", settings);
    }
    return std::make_unique<FileSink>();
  }
  constexpr std::string_view kListen = "tcp-listen://";
  if (text.substr(0, kListen.size()) == kListen) {
    const HostPort endpoint = ParseHostPort(text.substr(kListen.size()), true, true, option);
    return std::make_unique<TcpListenSink>(endpoint, option, settings);
  }
  if (auto serial = ParseSerialDevice(text, option)) {
    return std::make_unique<SerialSink>(*serial, option, settings);
  }
  if (text.find("://") != std::string_view::npos) {
    throw OptionError(std::string(option) + ": '" + std::string(text) +
                      "': unknown scheme; expected FILE, -, tcp-listen://[ADDR:]PORT or "
                      "serial:DEVICE[:BAUD]");
  }
  const std::string path(text);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
    // Opened for reading too, so the open never waits for a reader; a missing reader then shows
    // as a stall.
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      throw OptionError(std::string(option) + ": '" + path +
                        "': cannot open: " + std::strerror(errno));
    }
    return std::make_unique<PipeSink>(fd, "FIFO " + path, settings);
  }
  return std::make_unique<FileSink>(path, option);
}

}  // namespace ntrip_host
