#include "run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "connection_watch.h"
#include "demo.h"
#include "describe.h"
#include "engine_names.h"
#include "link_events.h"
#include "log_directory_choice.h"
#include "report_filter.h"
#include "sinks/file_sink.h"
#include "common/option_text.h"
#include "positions/position_source.h"
#include "caster_response.h"
#include "component_slot.h"
#include "source_steps.h"
#include "sourcetable_fetch.h"
#include "sourcetable_view.h"
#include "sinks/sink.h"
#include "service_notifier.h"
#include "status.h"
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
constexpr double kDemoSeconds = 20.0;
constexpr std::chrono::seconds kPositionPeriod{1};
// A stop waits this long for the component; past it the process ends with status 1.
constexpr std::chrono::seconds kShutdownLimit{10};
// The demo's last stream bytes are still on their way through the component when the caster
// closes; they get this long to reach the raw output.
constexpr std::chrono::seconds kDemoDrainLimit{3};

// The runner's own lines on stderr; information lines are dropped when quiet.
class Console {
 public:
  Console(bool quiet, bool verbose) : quiet_(quiet), verbose_(verbose) {}
  void Info(const std::string& line) const {
    if (!quiet_) Write(line);
  }
  void Warning(const std::string& line) const { Write("warning: " + line); }
  void Error(const std::string& line) const { Write(line); }
  static void Write(const std::string& line) {
    std::fprintf(stderr, "ntrip-host: %s\n", line.c_str());
  }
  runner::LogFunction LogFunction() const {
    return [quiet = quiet_](runner::LogLevel level, const std::string& line) {
      if (quiet && level == runner::LogLevel::kInfo) return;
      Write(level == runner::LogLevel::kWarning ? "warning: " + line : line);
    };
  }
  // Every report also goes to `watch`, which follows the link from them.
  ReportSink Reports(ConnectionWatch& watch) const {
    return [quiet = quiet_, verbose = verbose_, &watch](const Report& report) {
      watch.OnReport(report, Clock::now());
      if (quiet && report.kind == MAPS::ReportKind::Information) return;
      if (!verbose && IsVerboseOnlyReport(report)) return;
      WriteReportToConsole(report);
    };
  }

 private:
  const bool quiet_;
  const bool verbose_;
};

// --status-json: JSON Lines to a file or to stdout, flushed each second for monitoring tools.
class StatusJsonWriter {
 public:
  explicit StatusJsonWriter(const std::string& target) : to_stdout_(target == "-") {
    if (to_stdout_) return;
    file_.open(target, std::ios::out | std::ios::trunc);
    if (!file_) throw UsageError("--status-json " + target + ": cannot open the file for writing");
  }
  void Write(const nlohmann::json& object) {
    const std::string line = object.dump() + "\n";
    if (to_stdout_) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
    } else {
      file_ << line << std::flush;
    }
  }

 private:
  const bool to_stdout_;
  std::ofstream file_;
};

bool IsFileSinkText(const std::string& text) {
  return text != "-" && !text.starts_with("tcp-listen://") && !text.starts_with("serial:");
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
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

tarno::CasterAddress CasterOf(const Instance& instance) {
  tarno::CasterAddress caster;
  caster.host = instance.PropertyText("ip");
  caster.port = instance.PropertyText("port");
  caster.username = instance.PropertyText("username");
  caster.password = instance.PropertyText("password");
  caster.tls = instance.PropertyText("tls") == "true";
  caster.tls_ca_file = instance.PropertyText("tls_ca_file");
  caster.proxy = tarno::ParseProxy(instance.PropertyText("proxy"));
  caster.proxy.username = instance.PropertyText("proxy_username");
  caster.proxy.password = instance.PropertyText("proxy_password");
  return caster;
}

// The source's first position: a live source may need a few of its seconds for a fix. A stop
// ends the wait.
std::optional<Position> FirstPosition(runner::PositionSource* source, StopRequest& stop) {
  for (int second = 0; source != nullptr && second < 10; ++second) {
    if (const auto sample = source->Next()) return Position{(*sample)[0], (*sample)[1]};
    if (stop.WaitUntil(Clock::now() + std::chrono::seconds(1))) break;
  }
  return std::nullopt;
}

// Empty when the fetch failed (said on the console) or a stop ended it (said by the caller).
std::optional<tarno::Sourcetable> Fetch(const Instance& instance, const StopRequest& stop,
                                        const Console& console) {
  const tarno::CasterAddress caster = CasterOf(instance);
  const std::stop_token stopped = stop.Token();
  tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(caster, {}, stopped);
  if (stopped.stop_requested()) return std::nullopt;
  if (fetched.refusal.kind != tarno::Refusal::Kind::None) {
    console.Error("sourcetable of " + caster.host + ":" + caster.port + ": " +
                  fetched.refusal.text);
    return std::nullopt;
  }
  return std::move(fetched.table);
}

int PrintSourcetable(const Instance& instance, runner::PositionSource* source, bool json,
                     StopRequest& stop, const Console& console) {
  const std::optional<Position> from = FirstPosition(source, stop);
  std::optional<tarno::Sourcetable> table;
  if (!stop.Token().stop_requested()) {
    if (source != nullptr && !from) console.Warning("no position came: streams in table order");
    table = Fetch(instance, stop, console);
  }
  if (stop.Token().stop_requested()) {
    console.Info("stopping (" + stop.Reason() + ")");
    return stop.Failed() ? 1 : 0;
  }
  if (!table) return 1;
  const std::string text =
      json ? SourcetableJsonLines(*table, from) : SourcetableText(*table, from);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return 0;
}

// The component is unchanged: the host chooses, then sets the property. Nothing when a stop came
// first; else where the rover was when it chose.
std::optional<Position> SetNearestMount(Instance& instance, runner::PositionSource* source,
                                        StopRequest& stop, const Console& console) {
  const std::optional<Position> from = FirstPosition(source, stop);
  if (stop.Token().stop_requested()) return std::nullopt;
  if (!from) throw UsageError("--nearest-mount: no position came from the position source");
  const auto table = Fetch(instance, stop, console);
  if (stop.Token().stop_requested()) return std::nullopt;
  if (!table) throw std::runtime_error("--nearest-mount: no sourcetable");
  const NearestMount nearest = ChooseNearestMount(*table, *from);
  for (const std::string& skipped : nearest.skipped) console.Info("skipped " + skipped);
  if (!nearest.chosen) {
    throw UsageError("--nearest-mount: the caster lists no RTCM 3 stream (" +
                     std::to_string(table->streams.size()) + " streams, " +
                     std::to_string(table->malformed_rows) + " malformed rows)");
  }
  const std::string& name = nearest.chosen->stream.mountpoint;
  // The name passed the mount point check: it holds no control characters.
  const std::string format = tarno::PrintableStatusLine(nearest.chosen->stream.format);
  if (nearest.chosen->distance_km < 0) {
    std::printf("RTCM 3 mount point: %s, distance unknown (%s): %s\n", name.c_str(),
                format.c_str(), nearest.why.c_str());
  } else {
    char km[32];
    std::snprintf(km, sizeof km, "%.1f", nearest.chosen->distance_km);
    std::printf("nearest RTCM 3 mount point: %s, %s km away (%s)\n", name.c_str(), km,
                format.c_str());
  }
  std::fflush(stdout);
  instance.SetProperty("mountpoint", name);
  return *from;
}

}  // namespace

// The once-a-second status: on stderr with --status, as JSON with --status-json.
void ShowStatus(Clock::time_point now, RunStatus& status, const ConnectionWatch& link,
                const SourceSwitch& sources, const runner::PositionSource* nmea_source, bool line,
                StatusJsonWriter* json) {
  std::optional<std::uint64_t> bad_nmea;
  if (nmea_source != nullptr) bad_nmea = nmea_source->Counters().BadSentences();
  RunStatus::Fields fields = status.Take(now, link.Take(now), bad_nmea);
  const SourceSwitch::Snapshot in_use = sources.Take(now);
  fields.source = in_use.source;
  fields.source_text = in_use.text;
  fields.source_index = in_use.index;
  fields.switches = in_use.switches;
  if (line) Console::Write("status " + RunStatus::Line(fields));
  if (json != nullptr) json->Write(RunStatus::Json(fields));
}

// What the run is given: the user's settings, and what the demo fills in around them.
struct RunPlan {
  std::vector<std::pair<std::string, std::string>> properties;
  std::optional<PositionChoice> position;
  std::optional<std::string> raw_out, decoded_out;
  std::optional<double> duration;
  std::unique_ptr<caster::ReplayCaster> demo_caster;
  fs::path demo_raw_path;
};

RunPlan PlanFromOptions(const RunOptions& options) {
  RunPlan plan;
  plan.position = options.position;
  plan.raw_out = options.raw_out;
  plan.decoded_out = options.decoded_out;
  plan.duration = options.duration_seconds;
  return plan;
}

// Starts the demo's caster and points the run at it; false when the caster cannot start.
bool PrepareDemo(const RunOptions& options, const fs::path& executable, const Console& console,
                 RunPlan& plan) {
  if (plan.raw_out && !IsFileSinkText(*plan.raw_out)) {
    throw UsageError(
        "--demo compares the raw output with what its caster served: give "
        "--raw-out a file path");
  }
  std::vector<std::string> mounts;
  try {
    plan.demo_caster = StartDemoCaster(FindDemoData(executable), mounts);
  } catch (const std::exception& error) {
    console.Error(std::string("cannot start the demo caster: ") + error.what());
    return false;
  }
  plan.properties = {{"ip", "127.0.0.1"},
                     {"port", std::to_string(plan.demo_caster->Port())},
                     {"mountpoint", kDemoMount},
                     {"username", kDemoUser},
                     {"password", kDemoPassword}};
  // Log files keep the console for the summaries, the reports and the status line.
  if (!options.HasProperty("log_destination") && !options.HasProperty("logging_path")) {
    const fs::path log_dir = DefaultDemoRawPath(executable).parent_path() / "demo-logs";
    std::error_code ignored;
    fs::create_directories(log_dir, ignored);
    plan.properties.emplace_back("log_destination", "Log");
    plan.properties.emplace_back("logging_path", log_dir.string());
    std::printf("demo: log files go to %s\n", log_dir.c_str());
  } else if (!options.HasProperty("log_destination")) {
    plan.properties.emplace_back("log_destination", "Console");
  }
  if (!plan.position) {
    plan.position = PositionChoice{runner::PositionOption::kFixed, "--position", kDemoPosition};
  }
  if (!plan.raw_out) plan.raw_out = DefaultDemoRawPath(executable).string();
  if (!plan.decoded_out) plan.decoded_out = "-";
  if (!plan.duration) plan.duration = kDemoSeconds;
  plan.demo_raw_path = *plan.raw_out;
  std::printf("demo: caster on 127.0.0.1:%u, mount points %s (%s is %s)\n",
              static_cast<unsigned>(plan.demo_caster->Port()), JoinNames(mounts).c_str(),
              kDemoMount, kDemoRecording);
  std::printf("demo: runs %.0f s; raw output goes to %s; decoded summaries follow\n",
              *plan.duration, plan.demo_raw_path.c_str());
  std::fflush(stdout);
  return true;
}

int RunComponent(const RunOptions& options, const fs::path& executable) {
  // A sink on standard output gets it for the stream alone, before any text line is written.
  if (options.raw_out == "-" || options.decoded_out == "-" ||
      (options.demo && !options.decoded_out)) {
    runner::StreamStdout();
  }
  const Console console(options.quiet, options.verbose);
  for (const std::string& warning : options.warnings) console.Warning(warning);
  StopRequest stop;
  const auto on_signal = [&stop](const std::string& name) { stop.Request("received " + name); };
  std::optional<SignalWatcher> signals(std::in_place, on_signal);

  // What the demo fills in; the user's own options still win.
  RunPlan plan = PlanFromOptions(options);
  if (options.demo && !PrepareDemo(options, executable, console, plan)) return 1;
  std::vector<std::pair<std::string, std::string>>& properties = plan.properties;
  std::optional<PositionChoice>& position = plan.position;
  std::optional<std::string>& raw_out = plan.raw_out;
  std::optional<std::string>& decoded_out = plan.decoded_out;
  std::optional<double>& duration = plan.duration;
  std::unique_ptr<caster::ReplayCaster>& demo_caster = plan.demo_caster;
  const fs::path& demo_raw_path = plan.demo_raw_path;
  const bool show_status = options.status || options.demo;
  std::vector<std::string> origins(properties.size());
  properties.insert(properties.end(), options.properties.begin(), options.properties.end());
  origins.insert(origins.end(), options.property_origins.begin(), options.property_origins.end());
  if (options.status_json && *options.status_json == "-" &&
      (raw_out.value_or("") == "-" || decoded_out.value_or("") == "-")) {
    throw UsageError(
        "--status-json -: the stream already goes to stdout (--raw-out or --decoded-out -); "
        "give --status-json a file");
  }
  std::optional<StatusJsonWriter> status_json;
  if (options.status_json) status_json.emplace(*options.status_json);

  // Declared before the engine: the engine's output consumers use them until it stops.
  RunStatus status(Clock::now());
  ConnectionWatch link;
  std::unique_ptr<runner::Sink> raw_sink = MakeOptionalSink(raw_out, "--raw-out", console);
  std::unique_ptr<runner::Sink> decoded_sink =
      MakeOptionalSink(decoded_out, "--decoded-out", console);
  OutputRoute raw_route("--raw-out", raw_sink.get(), stop, console);
  OutputRoute decoded_route("--decoded-out", decoded_sink.get(), stop, console);

  std::unique_ptr<runner::PositionSource> source;
  if (position) {
    runner::LiveNmeaSettings live;
    live.log = console.LogFunction();
    try {
      source = runner::MakePositionSource(position->option, position->text, live);
    } catch (const runner::OptionError& error) {
      throw UsageError(error.what());
    }
  }

  Engine engine(EngineOptions{options.sampling_scale, console.Reports(link)});
  fs::path package_path = options.package_path;
  if (package_path.empty()) package_path = DefaultPackagePath(executable);
  try {
    engine.LoadPackage(package_path);
  } catch (const std::exception& error) {
    console.Error(error.what());
    return 1;
  }
  Instance* created = nullptr;
  try {
    created = &engine.CreateInstance(kModel, kInstanceName);
  } catch (const std::exception& error) {
    console.Error(package_path.string() + ": " + error.what());
    return 1;
  }
  Instance& instance = *created;
  ApplyProperties(instance, properties, origins);
  if (options.sourcetable) {
    return PrintSourcetable(instance, source.get(), options.json, stop, console);
  }
  if (!source) {
    // Without a position the component never builds a client: nothing would ever connect.
    throw UsageError(
        "no position source: give --position LAT,LON,ALT,ACC, --positions FILE or --nmea SOURCE "
        "(the component connects only once it has a position)");
  }
  PlaceLogFiles(instance, options, console);
  Position start_position;
  if (options.nearest_mount) {
    const std::optional<Position> chosen_at = SetNearestMount(instance, source.get(), stop, console);
    if (!chosen_at) {
      console.Info("stopping (" + stop.Reason() + ")");
      return stop.Failed() ? 1 : 0;
    }
    start_position = *chosen_at;
  }

  // Every source's instance is set up as the first one, but for its caster and mount point.
  const Settled settled = SettledProperties(instance);
  SourceSwitch sources(SourceList(instance, options.fallbacks),
                       std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(options.switch_after_seconds)),
                       Clock::now());
  // Called in the component's writer threads as each element is published: the sink first, so
  // the scans of the status and the source switch never delay a byte.
  const OutputConsumer raw_consumer = [&](const OutputElement& element) {
    raw_route.Write(Bytes(element));
    const Clock::time_point now = Clock::now();
    sources.OnRaw(Bytes(element), now);
    status.OnRaw(Bytes(element), now);
  };
  const OutputConsumer decoded_consumer = [&](const OutputElement& element) {
    decoded_route.Write(Bytes(element));
    status.OnDecoded(Bytes(element));
  };
  instance.SetOutputConsumer(kRawOutput, raw_consumer);
  instance.SetOutputConsumer(kDecodedOutput, decoded_consumer);
  const auto make_instance = [&](const Source& to) -> Instance& {
    Instance& made = engine.CreateInstance(kModel, kInstanceName);
    // Only what differs from the defaults: a default need not be one the host accepts as set.
    for (const auto& [name, value] : settled) {
      if (made.PropertyText(name) != value) made.SetProperty(name, value);
    }
    made.SetProperty("ip", to.host);
    made.SetProperty("port", to.port);
    made.SetProperty("mountpoint", to.mountpoint);
    made.SetOutputConsumer(kRawOutput, raw_consumer);
    made.SetOutputConsumer(kDecodedOutput, decoded_consumer);
    return made;
  };

  console.Info(
      "running " + std::string(kModel) + " from " + package_path.string() +
      "; positions: " + (source ? source->Description() : std::string("none")) +
      "; raw output: " + (raw_sink ? raw_sink->Description() : std::string("none")) +
      "; decoded output: " + (decoded_sink ? decoded_sink->Description() : std::string("none")));
  const Clock::time_point started = Clock::now();
  ServiceNotifier service;
  ComponentSlot slot(kPositionInput);
  Instance* current = &instance;
  instance.Start();
  slot.Attach(instance);
  service.Ready(RunStatus::LinkPart(link.Take(started)));
  // While on a fallback, the preferred source is probed on a connection of its own.
  const tarno::CasterAddress preferred_caster = CasterOf(instance);
  std::optional<PreferredProbe> probe;
  if (sources.Count() > 1) {
    probe.emplace(preferred_caster, sources.At(0).mountpoint,
                  instance.PropertyText("ntrip_version") == "1.0");
  }
  std::optional<NearestFollow> follow;
  std::optional<FollowSpacing> follow_spacing;
  if (options.follow_nearest) {
    follow.emplace(preferred_caster);
    const auto here = slot.Latest();
    follow_spacing.emplace(std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options.follow_period_seconds)),
                           here ? Position{(*here)[0], (*here)[1]} : start_position,
                           Clock::now());
  }
  ProbeSpacing probe_spacing(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(options.probe_period_seconds)));
  // The old instance is stopped (its last bytes reach the outputs) before the new one starts,
  // so the raw output carries each connection's bytes once and in order.
  // `event`: the line that says so; a warning when corrections were lost.
  const auto switch_source = [&](std::size_t next, const std::string& reason,
                                 const std::string& event, bool failover) {
    if (Instance* old = slot.Detach()) {
      old->Stop();
      engine.DestroyInstance(*old);
    }
    current = nullptr;
    // A stopped instance says nothing of its link: the watch hears of the end from the host.
    if (link.Take(Clock::now()).connected) {
      link.OnReport(Report{kInstanceName, MAPS::ReportKind::Information,
                           tarno::LostEvent("switched to another source")},
                    Clock::now());
    }
    // An outcome that came before this switch speaks of a state that is gone.
    if (probe) probe->Take();
    if (follow) follow->Take();
    if (sources.Current() == 0) probe_spacing.Restart(Clock::now());
    sources.SwitchTo(next, reason, Clock::now());
    if (failover) {
      console.Warning(event);
    } else {
      console.Info(event);
    }
    // A stop asked for during the switch: nothing new starts.
    if (stop.WaitUntil(Clock::now())) return;
    Instance& made = make_instance(sources.At(next));
    made.Start();
    slot.Attach(made);
    current = &made;
  };

  const Clock::time_point deadline = duration
                                         ? started + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(*duration))
                                         : Clock::time_point::max();
  Clock::time_point next_tick = started + std::chrono::seconds(1);
  // The position source is paced by this loop, not by a thread of its own: the first sample at
  // once, then one a second; seconds missed are skipped, not caught up.
  Clock::time_point next_position = started;
  // While the run goes, this loop's own wait takes the signals: one thread fewer.
  signals.reset();
  while (!stop.WaitUntilOrSignal(std::min({next_tick, next_position, deadline}))) {
    const Clock::time_point now = Clock::now();
    if (now >= next_position) {
      if (const auto sample = source ? source->Next() : std::nullopt) {
        status.OnPosition((*sample)[0], (*sample)[1], (*sample)[2]);
        slot.Push(*sample);  // to whichever instance runs now
      }
      while (next_position <= now) next_position += kPositionPeriod;
    }
    if (now >= deadline) {
      stop.Request("duration reached");
      break;
    }
    if (current != nullptr && current->HasFailed()) {
      stop.Request("the component failed", true);
      break;
    }
    if (now >= next_tick) {
      if (show_status || status_json) {
        const bool nmea = source && position->option == runner::PositionOption::kNmea;
        ShowStatus(now, status, link, sources, nmea ? source.get() : nullptr, show_status,
                   status_json ? &*status_json : nullptr);
      }
      service.Tick(now, RunStatus::LinkPart(link.Take(now)),
                   current != nullptr ? current->LongestSilence(now) : std::nullopt);
      next_tick += std::chrono::seconds(1);
      if (const auto due = sources.SwitchDue(now)) {
        switch_source(due->next, due->reason, SwitchLine(sources, due->next, due->reason), true);
      } else if (probe && sources.Current() != 0) {
        TakeThePreferredBack(*probe, probe_spacing, sources, slot, now, switch_source);
      } else if (follow && sources.Current() == 0) {
        FollowTheNearest(*follow, *follow_spacing, sources, slot, now, switch_source);
      }
    }
  }

  signals.emplace(on_signal, stop.Signalled());
  console.Info("stopping (" + stop.Reason() + ")");
  // Their threads end here: a probe at once (its socket is closed), a table read within its bounds.
  probe.reset();
  follow.reset();
  service.Stopping();
  ShutdownDeadline shutdown_deadline(kShutdownLimit);
  if (demo_caster) {
    // Closing the caster first lets the bytes already sent reach the raw output.
    demo_caster->Stop();
    if (!stop.Failed()) {
      status.WaitForRawBytes(ServedBytes(*demo_caster), Clock::now() + kDemoDrainLimit);
    }
  }
  if (Instance* last = slot.Detach()) {
    last->Stop();
    engine.DestroyInstance(*last);
  }
  engine.UnloadPackages();
  if (raw_sink) raw_sink->Close();
  if (decoded_sink) decoded_sink->Close();
  shutdown_deadline.Done();
  console.Info("stopped after " + Seconds(Clock::now() - started) + ": " +
               status.Summary(link.Take(Clock::now())) + SwitchSummary(sources) +
               DroppedSummary(raw_sink.get(), "raw output") +
               DroppedSummary(decoded_sink.get(), "decoded output"));
  if (source) console.Info("positions: " + source->Counters().Summary());

  int exit_status = stop.Failed() ? 1 : 0;
  if (demo_caster) {
    std::fflush(stdout);
    const std::string verdict = CompareRawWithServed(demo_raw_path, *demo_caster);
    std::printf("raw output equals the bytes the caster served: %s\n", verdict.c_str());
    std::fflush(stdout);
    if (verdict != "yes") exit_status = 1;
  }
  return exit_status;
}

}  // namespace ntrip_host
