#include "status_output.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "console.h"
#include "platform.h"
#include "options.h"
#include "common/option_text.h"
#include "sinks/file_sink.h"
#include "sinks/pipe_sink.h"

namespace ntrip_host {

StatusJsonWriter::StatusJsonWriter(const std::string& target, LogFunction log)
    : to_stdout_(target == "-"), log_(std::move(log)) {
  if (to_stdout_) return;
  // Opening a FIFO as a file would wait for its reader, deaf to a stop.
  SinkSettings settings;
  settings.log = log_;
  settings.output_name = "status JSON";
  settings.close_drain = std::chrono::milliseconds(500);
  try {
    fifo_ = MakeFifoSink(target, "--status-json", settings);
  } catch (const OptionError& error) {
    throw UsageError(error.what());
  }
  if (fifo_) return;
  file_.open(target, std::ios::out | std::ios::trunc);
  if (!file_) throw UsageError("--status-json " + target + ": cannot open the file for writing");
}

void StatusJsonWriter::Write(const nlohmann::json& object) {
  if (failed_) return;
  const std::string line = object.dump() + "\n";
  if (to_stdout_) {
    std::FILE* out = StreamStdout();
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  } else if (fifo_) {
    try {
      fifo_->Write(line);
    } catch (const SinkError& error) {
      // The status is for watching: its failure is said once and never stops the run.
      LogTo(log_, LogLevel::kWarning, std::string("--status-json: ") + error.what() +
                                          "; no more status lines go there");
      failed_ = true;
    }
  } else {
    file_ << line << std::flush;
  }
}

void ShowStatus(std::chrono::steady_clock::time_point now, RunStatus& status,
                const ConnectionWatch& link, const SourceSwitch& sources,
                const ntrip_host::PositionSource* nmea_source, const Console* console,
                StatusJsonWriter* json) {
  std::optional<std::uint64_t> bad_nmea;
  if (nmea_source != nullptr) bad_nmea = nmea_source->Counters().BadSentences();
  RunStatus::Fields fields = status.Take(now, link.Take(now), bad_nmea);
  const SourceSwitch::Snapshot in_use = sources.Take(now);
  fields.source = in_use.source;
  fields.source_text = in_use.text;
  fields.source_index = in_use.index;
  fields.switches = in_use.switches;
  if (console != nullptr) {
    const int columns = console->StatusInPlace() ? tarno::StderrTerminalColumns() : 0;
    // One column spare: a line that fills the terminal's width would wrap on some terminals.
    console->Status(columns > 0 ? RunStatus::ShortLine(fields, static_cast<std::size_t>(columns - 1))
                                : std::string(),
                    RunStatus::Line(fields));
  }
  if (json != nullptr) json->Write(RunStatus::Json(fields));
}

}  // namespace ntrip_host
