#include "common/decimal_text.h"
#include "sinks/file_sink.h"
#include "sinks/pipe_sink.h"
#include "sinks/serial_sink.h"
#include "sinks/tcp_listen_sink.h"


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
  if (text == "-") return MakeStdoutSink(settings);
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
  if (auto fifo = MakeFifoSink(path, option, settings)) return fifo;
  return std::make_unique<FileSink>(path, option);
}

}  // namespace ntrip_host
