#include "runner/file_sink.h"
#include "runner/serial_sink.h"
#include "runner/tcp_listen_sink.h"

namespace runner {

std::unique_ptr<Sink> MakeSink(std::string_view text, std::string_view option,
                               const SinkSettings& settings) {
  if (text.empty()) {
    throw OptionError(std::string(option) +
                      ": expected FILE, -, tcp-listen://[ADDR:]PORT or serial:DEVICE[:BAUD]");
  }
  if (text == "-") return std::make_unique<FileSink>();
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
  return std::make_unique<FileSink>(std::string(text), option);
}

}  // namespace runner
