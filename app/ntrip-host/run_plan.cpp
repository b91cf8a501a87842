#include "run_plan.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "demo.h"

namespace ntrip_host {

namespace {

namespace fs = std::filesystem;

constexpr double kDemoSeconds = 20.0;

bool IsFileSinkText(const std::string& text) {
  return text != "-" && !text.starts_with("tcp-listen://") && !text.starts_with("serial:");
}

void PlanFromOptions(const RunOptions& options, RunPlan& plan) {
  plan.position = options.position;
  plan.raw_out = options.raw_out;
  plan.decoded_out = options.decoded_out;
  plan.duration = options.duration_seconds;
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
  const bool default_logs =
      !options.HasProperty("log_destination") && !options.HasProperty("logging_path");
  const fs::path output_folder =
      default_logs || !plan.raw_out ? DemoOutputFolder(executable) : fs::path();
  // Log files keep the console for the summaries, the reports and the status line.
  if (default_logs) {
    const fs::path log_dir = output_folder / "demo-logs";
    std::error_code ignored;
    fs::create_directories(log_dir, ignored);
    plan.properties.emplace_back("log_destination", "Log");
    plan.properties.emplace_back("logging_path", log_dir.string());
    std::printf("demo: log files go to %s\n", log_dir.string().c_str());
  } else if (!options.HasProperty("log_destination")) {
    plan.properties.emplace_back("log_destination", "Console");
  }
  if (!plan.position) {
    plan.position =
        PositionChoice{ntrip_host::PositionOption::kFixed, "--position", kDemoPosition, ""};
  }
  if (!plan.raw_out) plan.raw_out = (output_folder / "demo-raw-output.rtcm").string();
  if (!plan.decoded_out) plan.decoded_out = "-";
  if (!plan.duration) plan.duration = kDemoSeconds;
  plan.demo_raw_path = *plan.raw_out;
  std::printf("demo: caster on 127.0.0.1:%u, mount points %s (%s is %s)\n",
              static_cast<unsigned>(plan.demo_caster->Port()), JoinNames(mounts).c_str(),
              kDemoMount, kDemoRecording);
  // The last setting wins, as when the properties are applied; a bad value is refused then.
  bool decoding = true;
  for (const auto& [name, value] : options.properties) {
    if (name == "decode_rtcm") decoding = !(value == "false" || value == "0");
  }
  std::printf("demo: runs %.0f s; raw output goes to %s; %s\n", *plan.duration,
              plan.demo_raw_path.string().c_str(),
              decoding ? "decoded summaries follow" : "decode_rtcm is off: no decoded summaries");
  std::fflush(stdout);
  return true;
}

}  // namespace

bool MakePlan(const RunOptions& options, const fs::path& executable, const Console& console,
              RunPlan& plan) {
  PlanFromOptions(options, plan);
  if (options.demo && !PrepareDemo(options, executable, console, plan)) return false;
  plan.origins.assign(plan.properties.size(), std::string());
  plan.properties.insert(plan.properties.end(), options.properties.begin(),
                         options.properties.end());
  plan.origins.insert(plan.origins.end(), options.property_origins.begin(),
                      options.property_origins.end());
  if (options.status_json && *options.status_json == "-" &&
      (plan.raw_out.value_or("") == "-" || plan.decoded_out.value_or("") == "-")) {
    throw UsageError(
        "--status-json -: the stream already goes to stdout (--raw-out or --decoded-out -); "
        "give --status-json a file");
  }
  return true;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace ntrip_host
