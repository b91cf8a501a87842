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

#include "common/input_file.h"
#include "common/option_text.h"
#include "component_names.h"
#include "console.h"
#include "demo.h"
#include "describe.h"
#include "engine_names.h"
#include "link_events.h"
#include "log_directory_choice.h"
#include "platform.h"
#include "positions/position_source.h"
#include "run_monitor.h"
#include "run_outputs.h"
#include "run_plan.h"
#include "run_sources.h"
#include "sinks/file_sink.h"
#include "source_steps.h"
#include "sourcetable_steps.h"
#include "stop_control.h"

namespace ntrip_host {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kPositionPeriod{1};
// How often the sources are looked at: a source that failed fast is left within this of the
// failure's report, not up to a second later.
constexpr std::chrono::milliseconds kSourceCheckPeriod{250};
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
    const std::string where = (origin.empty() ? "--set " : origin + ": ") + Escaped(name);
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      // The value is not echoed: it may be a password given under a mistyped name.
      throw UsageError(where + ": " + kModel + " has no property \"" + Escaped(name) + "\"" +
                       (origin.empty() ? "" : " and ntrip-host no option --" + Escaped(name)) +
                       " (its properties: " + JoinNames(known) + ")");
    }
    // The component's own check opens the file and would wait for ever on a FIFO.
    if (name == "tls_ca_file" && !value.empty()) {
      try {
        RefuseIrregularFile(value, kSettingsFileCap);
      } catch (const InputFileError& error) {
        throw UsageError(where + ": " + Escaped(error.what()));
      }
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

// How the user gave the property `name`, for a message that goes on with its value; none when
// the user did not.
std::optional<std::string> UserSetting(const RunOptions& options, const std::string& name) {
  for (std::size_t i = options.properties.size(); i-- > 0;) {
    if (options.properties[i].first != name) continue;
    const std::string& origin = options.property_origins[i];
    return origin.empty() ? "--set " + name + "=" : origin + ": " + name + " = ";
  }
  return std::nullopt;
}

// Files of the "Log" destination need a writable directory: the user's, or one of the user's
// state directories when the user chose none.
void PlaceLogFiles(Instance& instance, const RunOptions& options, const Console& console) {
  const LogDirectoryChoice choice = ChooseLogDirectory(
      instance.PropertyText("log_destination"), instance.PropertyText("logging_path"),
      UserSetting(options, "logging_path"), [](const char* name) { return std::getenv(name); });
  if (choice.logging_path) instance.SetProperty("logging_path", *choice.logging_path);
  if (!choice.warning.empty()) console.Warning(choice.warning);
  if (!choice.note.empty()) console.Info(choice.note);
}

std::unique_ptr<PositionSource> MakeOptionalSource(const std::optional<PositionChoice>& position,
                                                   const Console& console) {
  if (!position) return nullptr;
  LiveNmeaSettings live;
  live.log = console.LogFunction();
  try {
    return MakePositionSource(position->option, position->text, live);
  } catch (const OptionError& error) {
    // A config file's setting is named by its line and its name there, without dashes.
    std::string_view message = error.what();
    if (position->origin.empty() || !message.starts_with(position->option_name)) {
      throw UsageError(error.what());
    }
    message.remove_prefix(2);
    throw UsageError(position->origin + ": " + std::string(message));
  }
}

std::string Seconds(Clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

// One run of the component, step by step. The members are declared in the order their lifetimes
// need: the engine's output consumers use the monitor, the outputs and the sources until the
// engine stops, so those are declared before it and outlive it.
class ComponentRun {
 public:
  ComponentRun(const RunOptions& options, const fs::path& executable, const Console& console)
      : options_(options),
        executable_(executable),
        console_(console),
        signals_(std::in_place, on_signal_) {}

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
    sources_->PrepareWatchers(*first_, start_position_);
    Loop();
    Shutdown();
    return Finish();
  }

 private:
  void OpenOutputs();
  bool CreateInstance();
  int StoppedBeforeStart() const;
  void WireOutputs();
  void StartFirstInstance();
  void Loop();
  void OnSecond(Clock::time_point now);
  // SIGHUP with --config: the files read again and applied; nothing changes when they are bad.
  void Reload();
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

  // Used by the engine's output consumers until it stops.
  std::optional<RunMonitor> monitor_;
  std::optional<RunOutputs> outputs_;
  std::unique_ptr<PositionSource> source_;
  std::unique_ptr<RunSources> sources_;
  // Kept across every instance of the run, reloads included: casters' set-ups stay spaced.
  std::shared_ptr<tarno::SetupSpacingBook> spacing_;
  std::optional<std::vector<double>> last_sample_;
  // What the latest reload read; the start's options until one did.
  std::optional<RunOptions> reloaded_;

  std::optional<Engine> engine_;
  fs::path package_path_;
  Instance* first_ = nullptr;
  Position start_position_;
  Clock::time_point started_;
};

// Options found bad here (a file, an endpoint, a device) are usage errors, told before the
// package loads.
void ComponentRun::OpenOutputs() {
  monitor_.emplace(options_, console_, Clock::now());
  outputs_.emplace(plan_, stop_, console_);
  source_ = MakeOptionalSource(plan_.position, console_);
}

// The package and the first instance with the user's properties; false when the package or the
// instance cannot be had (said on the console).
bool ComponentRun::CreateInstance() {
  engine_.emplace(EngineOptions{options_.sampling_scale, console_.Reports(monitor_->Link())});
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
  spacing_ = std::make_shared<tarno::SetupSpacingBook>(options_.sampling_scale);
  sources_ = std::make_unique<RunSources>(*engine_, *first_, options_, *outputs_, monitor_->Link(),
                                          console_, stop_, spacing_);
  outputs_->Feed(monitor_->Status(), sources_->Switch());
  outputs_->Attach(*first_);
}

void ComponentRun::StartFirstInstance() {
  console_.Info("running " + std::string(kModel) + " from " + package_path_.string() +
                "; positions: " + (source_ ? source_->Description() : std::string("none")) +
                "; " + outputs_->Description());
  started_ = Clock::now();
  sources_->Start(*first_);
  monitor_->Ready(started_);
}

void ComponentRun::Loop() {
  const Clock::time_point deadline =
      plan_.duration ? started_ + DurationOf(*plan_.duration) : Clock::time_point::max();
  Clock::time_point next_tick = started_ + std::chrono::seconds(1);
  Clock::time_point next_check = started_ + kSourceCheckPeriod;
  // The position source is paced by this loop, not by a thread of its own: the first sample at
  // once, then one a second; seconds missed are skipped, not caught up.
  Clock::time_point next_position = started_;
  // While the run goes, this loop's own wait takes the signals: one thread fewer.
  signals_.reset();
  if (options_.reloadable) stop_.ReloadOnHangup();
  while (!stop_.WaitUntilOrSignal(std::min({next_tick, next_position, next_check, deadline}))) {
    if (stop_.TakeReload()) Reload();
    const Clock::time_point now = Clock::now();
    if (now >= next_position) {
      if (const auto sample = source_ ? source_->Next() : std::nullopt) {
        monitor_->Status().OnPosition((*sample)[0], (*sample)[1], (*sample)[2]);
        sources_->Push(*sample);  // to whichever instance runs now
        last_sample_ = *sample;
      }
      while (next_position <= now) next_position += kPositionPeriod;
    }
    if (now >= deadline) {
      stop_.Request("duration reached");
      break;
    }
    if (sources_->Current() != nullptr && sources_->Current()->HasFailed()) {
      stop_.Request("the component failed", true);
      break;
    }
    if (now >= next_tick) {
      next_tick += std::chrono::seconds(1);
      OnSecond(now);
    }
    if (now >= next_check) {
      while (next_check <= now) next_check += kSourceCheckPeriod;
      sources_->Step(now);  // at most one change of source
    }
  }
}

// The status and the service manager's tick.
void ComponentRun::OnSecond(Clock::time_point now) {
  const bool nmea = source_ && plan_.position->option == PositionOption::kNmea;
  monitor_->Tick(now, sources_->Switch(), nmea ? source_.get() : nullptr, sources_->Current());
}

void ComponentRun::Reload() {
  monitor_->Reloading();
  const RunOptions& current = reloaded_ ? *reloaded_ : options_;
  RunOptions fresh;
  std::unique_ptr<RunSources> next;
  Instance* check = nullptr;
  try {
    fresh = ParseCommandLine(options_.arguments);
    const bool same_sources = fresh.properties == current.properties &&
                              fresh.fallbacks == current.fallbacks &&
                              fresh.switch_after_seconds == current.switch_after_seconds &&
                              fresh.probe_period_seconds == current.probe_period_seconds;
    if (!same_sources) {
      // The new settings on an instance that never starts, beside the one that runs: a value
      // the component refuses changes nothing.
      check = &engine_->CreateInstance(kModel, std::string(kInstanceName) + "_reloaded");
      ApplyProperties(*check, fresh.properties, fresh.property_origins);
      next = std::make_unique<RunSources>(*engine_, *check, fresh, *outputs_, monitor_->Link(),
                                          console_, stop_, spacing_);
      engine_->DestroyInstance(*std::exchange(check, nullptr));
    }
  } catch (const std::exception& error) {
    if (check != nullptr) engine_->DestroyInstance(*check);
    console_.Error(std::string("reload refused, nothing changed: ") + error.what());
    monitor_->Ready(Clock::now());
    return;
  }
  // Rotated files: the sinks open their paths again.
  if (const std::string problems = outputs_->Reopen(); !problems.empty()) {
    console_.Warning("reload: " + problems);
  }
  const bool moved = next != nullptr;
  if (moved) {
    // A clean switch: the old instance's last bytes reach the outputs before the new one starts,
    // so the raw output stays whole.
    sources_->StopWatchers();
    sources_->StopCurrent();
    // Under the name the console and the status know; the values passed the check above.
    Instance& made = engine_->CreateInstance(kModel, kInstanceName);
    ApplyProperties(made, fresh.properties, fresh.property_origins);
    PlaceLogFiles(made, fresh, console_);
    if (monitor_->Link().Take(Clock::now()).connected) {
      monitor_->Link().OnReport(Report{kInstanceName, MAPS::ReportKind::Information,
                                       tarno::LostEvent("the configuration was reloaded")},
                                Clock::now());
    }
    monitor_->Link().NewSource();
    sources_ = std::move(next);
    outputs_->Feed(monitor_->Status(), sources_->Switch());
    outputs_->Attach(made);
    sources_->Start(made);
    if (last_sample_) sources_->Push(*last_sample_);
    sources_->PrepareWatchers(made, start_position_);
  }
  console_.Info(std::string("reloaded the configuration: ") +
                (moved ? "now on " + sources_->Switch().At(0).Text()
                                         : "the sources unchanged") +
                "; outputs reopened");
  reloaded_ = std::move(fresh);
  monitor_->Ready(Clock::now());
}

void ComponentRun::Shutdown() {
  signals_.emplace(on_signal_, stop_.Signalled());
  console_.Info("stopping (" + stop_.Reason() + ")");
  sources_->StopWatchers();
  monitor_->Stopping();
  ShutdownDeadline shutdown_deadline(kShutdownLimit);
  if (plan_.demo_caster) {
    // Closing the caster first lets the bytes already sent reach the raw output.
    plan_.demo_caster->Stop();
    if (!stop_.Failed()) {
      monitor_->Status().WaitForRawBytes(ServedBytes(*plan_.demo_caster),
                                         Clock::now() + kDemoDrainLimit);
    }
  }
  sources_->StopCurrent();
  engine_->UnloadPackages();
  outputs_->Close();
  shutdown_deadline.Done();
}

// The stop line, the positions' counts and, in the demo, its verdict.
int ComponentRun::Finish() {
  console_.Info("stopped after " + Seconds(Clock::now() - started_) + ": " +
                monitor_->Summary(Clock::now()) + SwitchSummary(sources_->Switch()) +
                outputs_->DroppedSummary());
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
  // Machine output on standard output gets it alone, before any text line is written: the
  // program's lines and the default log writer's go to stderr instead.
  const bool stdout_is_stream = options.raw_out == "-" || options.decoded_out == "-" ||
                                (options.demo && !options.decoded_out) ||
                                options.status_json == "-" || (options.sourcetable && options.json);
  if (stdout_is_stream) StreamStdout();
  // In place only where nothing else writes to the terminal by itself: no stream on stdout, no
  // log lines of the component on stderr.
  bool logs_to_console = options.demo;
  for (const auto& [name, value] : options.properties) {
    if (name == "log_destination") logs_to_console = value == "Console";
  }
  const bool status_in_place = options.status && !options.status_full && !stdout_is_stream &&
                               !logs_to_console && tarno::StderrTerminalColumns() > 0;
  const Console console(options.quiet, options.verbose, stdout_is_stream, status_in_place);
  for (const std::string& warning : options.warnings) console.Warning(warning);
  ComponentRun run(options, executable, console);
  return run.Run();
}

}  // namespace ntrip_host
