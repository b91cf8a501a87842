#include "run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/option_text.h"
#include "component_slot.h"
#include "connection_watch.h"
#include "console.h"
#include "demo.h"
#include "describe.h"
#include "engine_names.h"
#include "link_events.h"
#include "log_directory_choice.h"
#include "nearest_follow.h"
#include "positions/position_source.h"
#include "preferred_probe.h"
#include "run_plan.h"
#include "service_notifier.h"
#include "sinks/file_sink.h"
#include "sinks/sink.h"
#include "source_steps.h"
#include "source_switch.h"
#include "sourcetable_steps.h"
#include "status.h"
#include "status_output.h"
#include "stop_control.h"

namespace ntrip_host {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kModel = "NTRIP_Client";
constexpr const char* kInstanceName = "NTRIP_Client_1";
constexpr const char* kPositionInput = "iGPSPos";
constexpr const char* kRawOutput = "oRawRTCM";
constexpr const char* kDecodedOutput = "oDecodeRTCM";
constexpr std::chrono::seconds kPositionPeriod{1};
// A stop waits this long for the component; past it the process ends with status 1.
constexpr std::chrono::seconds kShutdownLimit{10};
// The demo's last stream bytes are still on their way through the component when the caster
// closes; they get this long to reach the raw output.
constexpr std::chrono::seconds kDemoDrainLimit{3};

Clock::duration DurationOf(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Unknown names and values the property cannot take are option errors, found before start.
// `origins` beside `properties`: "FILE:LINE" of a config file's setting, empty for --set.
void ApplyProperties(Instance& instance,
                     const std::vector<std::pair<std::string, std::string>>& properties,
                     const std::vector<std::string>& origins) {
  const std::vector<std::string> known = instance.PropertyNames();
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const auto& [name, value] = properties[i];
    const std::string origin = i < origins.size() ? origins[i] : std::string();
    const std::string where = origin.empty() ? "--set " + name : origin + ": " + name;
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      // The value is not echoed: it may be a password given under a mistyped name.
      throw UsageError(where + ": " + kModel + " has no property \"" + name + "\"" +
                       (origin.empty() ? "" : " and ntrip-host no option --" + name) +
                       " (its properties: " + JoinNames(known) + ")");
    }
    try {
      instance.SetProperty(name, value);
    } catch (const PropertyError& error) {
      throw UsageError(where + ": " + error.what());
    }
    // The component would refuse it at start and never connect: refuse it now, with its reason.
    if (const std::string refused = instance.CheckPropertyValue(name, value); !refused.empty()) {
      throw UsageError(where + ": " + refused);
    }
  }
}

// Files of the "Log" destination need a writable directory: the user's, or one of the user's
// state directories when the user chose none.
void PlaceLogFiles(Instance& instance, const RunOptions& options, const Console& console) {
  const LogDirectoryChoice choice = ChooseLogDirectory(
      instance.PropertyText("log_destination"), instance.PropertyText("logging_path"),
      options.HasProperty("logging_path"), [](const char* name) { return std::getenv(name); });
  if (choice.logging_path) instance.SetProperty("logging_path", *choice.logging_path);
  if (!choice.warning.empty()) console.Warning(choice.warning);
  if (!choice.note.empty()) console.Info(choice.note);
}

std::unique_ptr<runner::Sink> MakeOptionalSink(const std::optional<std::string>& text,
                                               const char* option, const Console& console) {
  if (!text) return nullptr;
  runner::SinkSettings settings;
  settings.log = console.LogFunction();
  settings.output_name = std::string(option) == "--raw-out" ? "raw output" : "decoded output";
  try {
    return runner::MakeSink(*text, option, settings);
  } catch (const runner::OptionError& error) {
    throw UsageError(error.what());
  }
}

std::unique_ptr<runner::PositionSource> MakeOptionalSource(
    const std::optional<PositionChoice>& position, const Console& console) {
  if (!position) return nullptr;
  runner::LiveNmeaSettings live;
  live.log = console.LogFunction();
  try {
    return runner::MakePositionSource(position->option, position->text, live);
  } catch (const runner::OptionError& error) {
    throw UsageError(error.what());
  }
}

// Hands every element of an output to the status and to its sink. A sink that fails (disk full,
// closed pipe) is written no more and ends the run as a failure.
class OutputRoute {
 public:
  OutputRoute(std::string option, runner::Sink* sink, StopRequest& stop, const Console& console)
      : option_(std::move(option)), sink_(sink), stop_(stop), console_(console) {}

  void Write(std::string_view bytes) {
    if (sink_ == nullptr || failed_.load()) return;
    try {
      sink_->Write(bytes);
    } catch (const runner::SinkError& error) {
      failed_.store(true);
      console_.Error(option_ + ": " + error.what() + "; stopping");
      stop_.Request(option_ + " failed", true);
    }
  }

 private:
  const std::string option_;
  runner::Sink* const sink_;
  StopRequest& stop_;
  const Console& console_;
  std::atomic<bool> failed_{false};
};

std::string_view Bytes(const OutputElement& element) {
  return {reinterpret_cast<const char*>(element.data.data()), element.data.size()};
}

std::string Seconds(Clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

// For the stop line: what a stalled output could not take.
std::string DroppedSummary(const runner::Sink* sink, const std::string& output) {
  if (sink == nullptr) return "";
  const runner::SinkCounters counters = sink->Counters();
  if (counters.elements_dropped == 0) return "";
  return ", " + output + " dropped " +
         runner::DroppedText(counters.elements_dropped, counters.bytes_dropped);
}

// One run of the component, step by step. The members are declared in the order their lifetimes
// need: the engine's output consumers use the status, the routes and the source switch until the
// engine stops, so those are declared before it and outlive it.
class ComponentRun {
 public:
  ComponentRun(const RunOptions& options, const fs::path& executable, const Console& console)
      : options_(options),
        executable_(executable),
        console_(console),
        signals_(std::in_place, on_signal_),
        show_status_(options.status || options.demo),
        probe_spacing_(DurationOf(options.probe_period_seconds)) {}

  // The exit status; throws UsageError for option values found bad before start.
  int Run() {
    // What the demo fills in; the user's own options still win.
    if (!MakePlan(options_, executable_, console_, plan_)) return 1;
    OpenOutputs();
    if (!CreateInstance()) return 1;
    if (options_.sourcetable) {
      return PrintSourcetable(*first_, source_.get(), options_.json, stop_, console_);
    }
    if (!source_) {
      // Without a position the component never builds a client: nothing would ever connect.
      throw UsageError(
          "no position source: give --position LAT,LON,ALT,ACC, --positions FILE or --nmea "
          "SOURCE (the component connects only once it has a position)");
    }
    PlaceLogFiles(*first_, options_, console_);
    if (options_.nearest_mount) {
      const std::optional<Position> chosen_at =
          SetNearestMount(*first_, source_.get(), stop_, console_);
      if (!chosen_at) return StoppedBeforeStart();
      start_position_ = *chosen_at;
    }
    WireOutputs();
    StartFirstInstance();
    PrepareSourceWatchers();
    Loop();
    Shutdown();
    return Finish();
  }

 private:
  void OpenOutputs();
  bool CreateInstance();
  int StoppedBeforeStart() const;
  void WireOutputs();
  Instance& MakeInstance(const Source& to);
  void StartFirstInstance();
  void PrepareSourceWatchers();
  void Loop();
  void OnSecond(Clock::time_point now);
  void SwitchSource(std::size_t next, const std::string& reason, const std::string& event,
                    bool failover);
  void Shutdown();
  int Finish();

  const RunOptions& options_;
  const fs::path& executable_;
  const Console& console_;
  StopRequest stop_;
  const std::function<void(const std::string&)> on_signal_ = [this](const std::string& name) {
    stop_.Request("received " + name);
  };
  std::optional<SignalWatcher> signals_;
  RunPlan plan_;
  const bool show_status_;
  std::optional<StatusJsonWriter> status_json_;

  // Used by the engine's output consumers until it stops.
  std::optional<RunStatus> status_;
  ConnectionWatch link_;
  std::unique_ptr<runner::Sink> raw_sink_, decoded_sink_;
  std::optional<OutputRoute> raw_route_, decoded_route_;
  std::unique_ptr<runner::PositionSource> source_;
  std::optional<SourceSwitch> sources_;
  Settled settled_;
  OutputConsumer raw_consumer_, decoded_consumer_;

  std::optional<Engine> engine_;
  fs::path package_path_;
  Instance* first_ = nullptr;
  Position start_position_;
  Clock::time_point started_;
  ServiceNotifier service_;
  ComponentSlot slot_{kPositionInput};
  Instance* current_ = nullptr;
  std::optional<PreferredProbe> probe_;
  std::optional<NearestFollow> follow_;
  std::optional<FollowSpacing> follow_spacing_;
  ProbeSpacing probe_spacing_;
};

// Options found bad here (a file, an endpoint, a device) are usage errors, told before the
// package loads.
void ComponentRun::OpenOutputs() {
  if (options_.status_json) status_json_.emplace(*options_.status_json);
  status_.emplace(Clock::now());
  raw_sink_ = MakeOptionalSink(plan_.raw_out, "--raw-out", console_);
  decoded_sink_ = MakeOptionalSink(plan_.decoded_out, "--decoded-out", console_);
  raw_route_.emplace("--raw-out", raw_sink_.get(), stop_, console_);
  decoded_route_.emplace("--decoded-out", decoded_sink_.get(), stop_, console_);
  source_ = MakeOptionalSource(plan_.position, console_);
}

// The package and the first instance with the user's properties; false when the package or the
// instance cannot be had (said on the console).
bool ComponentRun::CreateInstance() {
  engine_.emplace(EngineOptions{options_.sampling_scale, console_.Reports(link_)});
  package_path_ = options_.package_path;
  if (package_path_.empty()) package_path_ = DefaultPackagePath(executable_);
  try {
    engine_->LoadPackage(package_path_);
  } catch (const std::exception& error) {
    console_.Error(error.what());
    return false;
  }
  try {
    first_ = &engine_->CreateInstance(kModel, kInstanceName);
  } catch (const std::exception& error) {
    console_.Error(package_path_.string() + ": " + error.what());
    return false;
  }
  ApplyProperties(*first_, plan_.properties, plan_.origins);
  return true;
}

int ComponentRun::StoppedBeforeStart() const {
  console_.Info("stopping (" + stop_.Reason() + ")");
  return stop_.Failed() ? 1 : 0;
}

// Every source's instance is set up as the first one, but for its caster and mount point.
void ComponentRun::WireOutputs() {
  settled_ = SettledProperties(*first_);
  sources_.emplace(SourceList(*first_, options_.fallbacks),
                   DurationOf(options_.switch_after_seconds), Clock::now());
  // Called in the component's writer threads as each element is published: the sink first, so
  // the scans of the status and the source switch never delay a byte.
  raw_consumer_ = [&raw_route = *raw_route_, &sources = *sources_,
                   &status = *status_](const OutputElement& element) {
    raw_route.Write(Bytes(element));
    const Clock::time_point now = Clock::now();
    sources.OnRaw(Bytes(element), now);
    status.OnRaw(Bytes(element), now);
  };
  decoded_consumer_ = [&decoded_route = *decoded_route_,
                       &status = *status_](const OutputElement& element) {
    decoded_route.Write(Bytes(element));
    status.OnDecoded(Bytes(element));
  };
  first_->SetOutputConsumer(kRawOutput, raw_consumer_);
  first_->SetOutputConsumer(kDecodedOutput, decoded_consumer_);
}

Instance& ComponentRun::MakeInstance(const Source& to) {
  Instance& made = engine_->CreateInstance(kModel, kInstanceName);
  // Only what differs from the defaults: a default need not be one the host accepts as set.
  for (const auto& [name, value] : settled_) {
    if (made.PropertyText(name) != value) made.SetProperty(name, value);
  }
  made.SetProperty("ip", to.host);
  made.SetProperty("port", to.port);
  made.SetProperty("mountpoint", to.mountpoint);
  made.SetOutputConsumer(kRawOutput, raw_consumer_);
  made.SetOutputConsumer(kDecodedOutput, decoded_consumer_);
  return made;
}

void ComponentRun::StartFirstInstance() {
  console_.Info(
      "running " + std::string(kModel) + " from " + package_path_.string() +
      "; positions: " + (source_ ? source_->Description() : std::string("none")) +
      "; raw output: " + (raw_sink_ ? raw_sink_->Description() : std::string("none")) +
      "; decoded output: " +
      (decoded_sink_ ? decoded_sink_->Description() : std::string("none")));
  started_ = Clock::now();
  current_ = first_;
  first_->Start();
  slot_.Attach(*first_);
  service_.Ready(RunStatus::LinkPart(link_.Take(started_)));
}

// While on a fallback, the preferred source is probed on a connection of its own; with
// --follow-nearest, the preferred caster's table is read again as the rover moves.
void ComponentRun::PrepareSourceWatchers() {
  const tarno::CasterAddress preferred_caster = CasterOf(*first_);
  if (sources_->Count() > 1) {
    probe_.emplace(preferred_caster, sources_->At(0).mountpoint,
                   first_->PropertyText("ntrip_version") == "1.0");
  }
  if (options_.follow_nearest) {
    follow_.emplace(preferred_caster);
    const auto here = slot_.Latest();
    follow_spacing_.emplace(DurationOf(options_.follow_period_seconds),
                            here ? Position{(*here)[0], (*here)[1]} : start_position_,
                            Clock::now());
  }
}

void ComponentRun::Loop() {
  const Clock::time_point deadline =
      plan_.duration ? started_ + DurationOf(*plan_.duration) : Clock::time_point::max();
  Clock::time_point next_tick = started_ + std::chrono::seconds(1);
  // The position source is paced by this loop, not by a thread of its own: the first sample at
  // once, then one a second; seconds missed are skipped, not caught up.
  Clock::time_point next_position = started_;
  // While the run goes, this loop's own wait takes the signals: one thread fewer.
  signals_.reset();
  while (!stop_.WaitUntilOrSignal(std::min({next_tick, next_position, deadline}))) {
    const Clock::time_point now = Clock::now();
    if (now >= next_position) {
      if (const auto sample = source_ ? source_->Next() : std::nullopt) {
        status_->OnPosition((*sample)[0], (*sample)[1], (*sample)[2]);
        slot_.Push(*sample);  // to whichever instance runs now
      }
      while (next_position <= now) next_position += kPositionPeriod;
    }
    if (now >= deadline) {
      stop_.Request("duration reached");
      break;
    }
    if (current_ != nullptr && current_->HasFailed()) {
      stop_.Request("the component failed", true);
      break;
    }
    if (now >= next_tick) {
      next_tick += std::chrono::seconds(1);
      OnSecond(now);
    }
  }
}

// The status, the service manager's tick, then at most one change of source.
void ComponentRun::OnSecond(Clock::time_point now) {
  if (show_status_ || status_json_) {
    const bool nmea = source_ && plan_.position->option == runner::PositionOption::kNmea;
    ShowStatus(now, *status_, link_, *sources_, nmea ? source_.get() : nullptr, show_status_,
               status_json_ ? &*status_json_ : nullptr);
  }
  service_.Tick(now, RunStatus::LinkPart(link_.Take(now)),
                current_ != nullptr ? current_->LongestSilence(now) : std::nullopt);
  const SwitchFunction switch_source = std::bind_front(&ComponentRun::SwitchSource, this);
  if (const auto due = sources_->SwitchDue(now)) {
    SwitchSource(due->next, due->reason, SwitchLine(*sources_, due->next, due->reason), true);
  } else if (probe_ && sources_->Current() != 0) {
    TakeThePreferredBack(*probe_, probe_spacing_, *sources_, slot_, now, switch_source);
  } else if (follow_ && sources_->Current() == 0) {
    FollowTheNearest(*follow_, *follow_spacing_, *sources_, slot_, now, switch_source);
  }
}

// The old instance is stopped (its last bytes reach the outputs) before the new one starts, so
// the raw output carries each connection's bytes once and in order. `event`: the line that says
// so; a warning when corrections were lost.
void ComponentRun::SwitchSource(std::size_t next, const std::string& reason,
                                const std::string& event, bool failover) {
  if (Instance* old = slot_.Detach()) {
    old->Stop();
    engine_->DestroyInstance(*old);
  }
  current_ = nullptr;
  // A stopped instance says nothing of its link: the watch hears of the end from the host.
  if (link_.Take(Clock::now()).connected) {
    link_.OnReport(Report{kInstanceName, MAPS::ReportKind::Information,
                          tarno::LostEvent("switched to another source")},
                   Clock::now());
  }
  // An outcome that came before this switch speaks of a state that is gone.
  if (probe_) probe_->Take();
  if (follow_) follow_->Take();
  if (sources_->Current() == 0) probe_spacing_.Restart(Clock::now());
  sources_->SwitchTo(next, reason, Clock::now());
  if (failover) {
    console_.Warning(event);
  } else {
    console_.Info(event);
  }
  // A stop asked for during the switch: nothing new starts.
  if (stop_.WaitUntil(Clock::now())) return;
  Instance& made = MakeInstance(sources_->At(next));
  made.Start();
  slot_.Attach(made);
  current_ = &made;
}

void ComponentRun::Shutdown() {
  signals_.emplace(on_signal_, stop_.Signalled());
  console_.Info("stopping (" + stop_.Reason() + ")");
  // Their threads end here: a probe at once (its socket is closed), a table read within its bounds.
  probe_.reset();
  follow_.reset();
  service_.Stopping();
  ShutdownDeadline shutdown_deadline(kShutdownLimit);
  if (plan_.demo_caster) {
    // Closing the caster first lets the bytes already sent reach the raw output.
    plan_.demo_caster->Stop();
    if (!stop_.Failed()) {
      status_->WaitForRawBytes(ServedBytes(*plan_.demo_caster), Clock::now() + kDemoDrainLimit);
    }
  }
  if (Instance* last = slot_.Detach()) {
    last->Stop();
    engine_->DestroyInstance(*last);
  }
  engine_->UnloadPackages();
  if (raw_sink_) raw_sink_->Close();
  if (decoded_sink_) decoded_sink_->Close();
  shutdown_deadline.Done();
}

// The stop line, the positions' counts and, in the demo, its verdict.
int ComponentRun::Finish() {
  console_.Info("stopped after " + Seconds(Clock::now() - started_) + ": " +
                status_->Summary(link_.Take(Clock::now())) + SwitchSummary(*sources_) +
                DroppedSummary(raw_sink_.get(), "raw output") +
                DroppedSummary(decoded_sink_.get(), "decoded output"));
  if (source_) console_.Info("positions: " + source_->Counters().Summary());

  int exit_status = stop_.Failed() ? 1 : 0;
  if (plan_.demo_caster) {
    std::fflush(stdout);
    const std::string verdict = CompareRawWithServed(plan_.demo_raw_path, *plan_.demo_caster);
    std::printf("raw output equals the bytes the caster served: %s\n", verdict.c_str());
    std::fflush(stdout);
    if (verdict != "yes") exit_status = 1;
  }
  return exit_status;
}

}  // namespace

int RunComponent(const RunOptions& options, const fs::path& executable) {
  // A sink on standard output gets it for the stream alone, before any text line is written.
  if (options.raw_out == "-" || options.decoded_out == "-" ||
      (options.demo && !options.decoded_out)) {
    runner::StreamStdout();
  }
  const Console console(options.quiet, options.verbose);
  for (const std::string& warning : options.warnings) console.Warning(warning);
  ComponentRun run(options, executable, console);
  return run.Run();
}

}  // namespace ntrip_host
