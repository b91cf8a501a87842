#include "sinks/file_sink.h"
#include "sinks/pipe_sink.h"

namespace ntrip_host {

// Windows' anonymous pipes have no non-blocking writes: standard output is written as a file.
std::unique_ptr<Sink> MakeStdoutSink(const SinkSettings&) {
  return std::make_unique<FileSink>();
}

// Windows has no FIFOs in its file system.
std::unique_ptr<Sink> MakeFifoSink(const std::string&, std::string_view, const SinkSettings&) {
  return nullptr;
}

}  // namespace ntrip_host
