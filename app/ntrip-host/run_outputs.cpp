#include "run_outputs.h"

#include <chrono>

#include "component_names.h"
#include "common/option_text.h"
#include "options.h"

namespace ntrip_host {

namespace {

std::unique_ptr<Sink> MakeOptionalSink(const std::optional<std::string>& text, const char* option,
                                       const Console& console) {
  if (!text) return nullptr;
  SinkSettings settings;
  settings.log = console.LogFunction();
  settings.output_name = std::string(option) == "--raw-out" ? "raw output" : "decoded output";
  try {
    return MakeSink(*text, option, settings);
  } catch (const OptionError& error) {
    throw UsageError(error.what());
  }
}

std::string_view Bytes(const OutputElement& element) {
  return {reinterpret_cast<const char*>(element.data.data()), element.data.size()};
}

std::string Dropped(const Sink* sink, const std::string& output) {
  if (sink == nullptr) return "";
  const SinkCounters counters = sink->Counters();
  if (counters.elements_dropped == 0) return "";
  return ", " + output + " dropped " + DroppedText(counters.elements_dropped, counters.bytes_dropped);
}

}  // namespace

void OutputRoute::Write(std::string_view bytes) {
  if (sink_ == nullptr || failed_.load()) return;
  try {
    sink_->Write(bytes);
  } catch (const SinkError& error) {
    failed_.store(true);
    console_.Error(option_ + ": " + error.what() + "; stopping");
    stop_.Request(option_ + " failed", true);
  }
}

RunOutputs::RunOutputs(const RunPlan& plan, StopRequest& stop, const Console& console)
    : raw_sink_(MakeOptionalSink(plan.raw_out, "--raw-out", console)),
      decoded_sink_(MakeOptionalSink(plan.decoded_out, "--decoded-out", console)),
      raw_route_("--raw-out", raw_sink_.get(), stop, console),
      decoded_route_("--decoded-out", decoded_sink_.get(), stop, console) {}

void RunOutputs::Feed(RunStatus& status, SourceSwitch& sources) {
  using Clock = std::chrono::steady_clock;
  raw_consumer_ = [this, &sources, &status](const OutputElement& element) {
    raw_route_.Write(Bytes(element));
    const Clock::time_point now = Clock::now();
    sources.OnRaw(Bytes(element), now);
    status.OnRaw(Bytes(element), now);
  };
  decoded_consumer_ = [this, &status](const OutputElement& element) {
    decoded_route_.Write(Bytes(element));
    status.OnDecoded(Bytes(element));
  };
}

void RunOutputs::Attach(Instance& instance) const {
  instance.SetOutputConsumer(kRawOutput, raw_consumer_);
  instance.SetOutputConsumer(kDecodedOutput, decoded_consumer_);
}

std::string RunOutputs::Description() const {
  return "raw output: " + (raw_sink_ ? raw_sink_->Description() : std::string("none")) +
         "; decoded output: " +
         (decoded_sink_ ? decoded_sink_->Description() : std::string("none"));
}

std::string RunOutputs::DroppedSummary() const {
  return Dropped(raw_sink_.get(), "raw output") + Dropped(decoded_sink_.get(), "decoded output");
}

std::string RunOutputs::Reopen() {
  std::string problems;
  for (Sink* sink : {raw_sink_.get(), decoded_sink_.get()}) {
    if (sink == nullptr) continue;
    try {
      sink->Reopen();
    } catch (const SinkError& error) {
      problems += (problems.empty() ? "" : "; ") + std::string(error.what());
    }
  }
  return problems;
}

void RunOutputs::Close() {
  if (raw_sink_) raw_sink_->Close();
  if (decoded_sink_) decoded_sink_->Close();
}

}  // namespace ntrip_host
