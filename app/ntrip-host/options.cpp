#include "options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <span>
#include <string_view>

#include "common/input_file.h"
#include "common/option_text.h"
#include "config_file.h"
#include "source_switch.h"

namespace ntrip_host {

bool RunOptions::HasProperty(const std::string& name) const {
  for (const auto& [property, value] : properties) {
    if (property == name) return true;
  }
  return false;
}

namespace {

// Beyond this a deadline computed from the value would overflow the clock.
constexpr double kLargestNumber = 1e9;

double ParsePositiveNumber(std::string_view option, std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value) || value <= 0 ||
      value > kLargestNumber) {
    throw UsageError(std::string(option) + ": \"" + std::string(text) +
                     "\" is not a positive number up to 1e9");
  }
  return value;
}

}  // namespace

namespace {

using ValueFunction = std::function<std::string()>;
using FlagFunction = std::function<bool()>;

bool OthersMayRead(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

// The properties that hold a credential, whose values are never shown.
bool IsSecretProperty(std::string_view name) {
  return name == "password" || name == "proxy_password" || name == "username" ||
         name == "proxy_username";
}

bool IsPasswordProperty(std::string_view name) {
  return name == "password" || name == "proxy_password";
}

void AddWarningOnce(RunOptions& options, const std::string& warning) {
  // The command line is read twice when a config file is given: one warning each.
  if (std::find(options.warnings.begin(), options.warnings.end(), warning) ==
      options.warnings.end()) {
    options.warnings.push_back(warning);
  }
}

void WarnAboutReadablePassword(RunOptions& options, const std::string& path) {
  if (!OthersMayRead(path)) return;
  AddWarningOnce(options, Escaped(path) +
                              " holds a password and is readable by group or others (chmod 600 " +
                              Escaped(path) + ")");
}

// A credential with a line end, CR or NUL inside would be sent as the caster never expects it.
// `holder` says where the value came from ("the value", a file's name).
void RefuseControlInSecret(std::string_view name, const std::string& what,
                           const std::string& holder, std::string_view value) {
  if (IsSecretProperty(name) && std::any_of(value.begin(), value.end(), IsControlByte)) {
    throw UsageError(what + ": " + holder +
                     " holds a control character (a line end, CR, NUL...) inside the " +
                     std::string(name));
  }
}

std::string ReadSmallFile(const std::string& path, std::size_t cap, const std::string& what) {
  try {
    return ReadRegularFile(path, cap);
  } catch (const InputFileError& error) {
    throw UsageError(what + ": " + Escaped(error.what()));
  }
}

// --set-file NAME=FILE: a secret kept by a service manager or a container runtime stays off the
// command line, where every local user could read it.
void SetFromFile(RunOptions& options, const std::string& assignment, const std::string& origin) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == assignment.size()) {
    throw UsageError("--set-file \"" + Escaped(assignment) + "\": use --set-file NAME=FILE");
  }
  const std::string name = assignment.substr(0, equals);
  const std::string path = assignment.substr(equals + 1);
  const std::string what = "--set-file " + Escaped(name);
  std::string content = ReadSmallFile(path, kSecretFileCap, what);
  // Editors and `echo` end the file with a line end that is no part of the value; Windows
  // editors with "\r\n".
  if (content.ends_with("\r\n")) {
    content.resize(content.size() - 2);
  } else if (content.ends_with('\n')) {
    content.pop_back();
  }
  RefuseControlInSecret(name, what, Escaped(path), content);
  if (IsSecretProperty(name)) {
    if (content.empty())
      AddWarningOnce(options, Escaped(path) + " is empty: " + name + " is empty");
  }
  options.AddProperty(name, content, origin);
  if (IsPasswordProperty(name)) WarnAboutReadablePassword(options, path);
}

// What one option is given: its value, or for an option without one, on or off.
struct OptionInput {
  const std::string& name;
  const std::string value;
  const bool on;
  const std::string& origin;  // "FILE:LINE" for a config file's setting, empty otherwise
};

struct Option {
  cli::OptionText text;
  void (*apply)(RunOptions& options, const OptionInput& input) = nullptr;  // none: help line
};

void SetPosition(RunOptions& options, const OptionInput& input, ntrip_host::PositionOption option) {
  if (options.position) {
    throw UsageError(input.name + ": only one of --position, --positions and --nmea may be given");
  }
  options.position = PositionChoice{option, input.name, input.value, input.origin};
}

void SetOnce(std::optional<std::string>& target, const OptionInput& input) {
  if (target) throw UsageError(input.name + " given twice");
  target = input.value;
}

void SetProperty(RunOptions& options, const OptionInput& input) {
  const std::size_t equals = input.value.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw UsageError("--set \"" + Escaped(input.value) + "\": use --set NAME=VALUE");
  }
  const std::string name = input.value.substr(0, equals);
  const std::string value = input.value.substr(equals + 1);
  RefuseControlInSecret(name, "--set " + Escaped(name), "the value", value);
  options.AddProperty(name, value, input.origin);
}

void Answer(RunOptions& options, const OptionInput& input, cli::Answer answer) {
  if (input.on) options.answer = answer;
}

void AddFallback(RunOptions& options, const OptionInput& input) {
  try {
    ParseSource(input.value);
  } catch (const std::invalid_argument& error) {
    throw UsageError("--fallback " + std::string(error.what()));
  }
  options.fallbacks.push_back(input.value);
}

// --config is read before the others (ParseCommandLine); it has a row for its help and its name.
constexpr Option kOptions[] = {
    {{"", "", "options:"}},
    {{"--describe", "", "print the model, its input, outputs and properties with defaults"},
     [](RunOptions& o, const OptionInput& in) { o.describe = in.on; }},
    {{"--package", "PATH", "the package to load (default: ../lib/ntrip-host/ntrip_client_package.so)"},
     [](RunOptions& o, const OptionInput& in) { o.package_path = in.value; }},
    {{"--config", "FILE",
      "read settings from FILE: NAME = VALUE a line, NAME a property\n"
      "or an option without its dashes; the command line wins; SIGHUP\n"
      "reads it again and applies it without a stop"}},
    {{"--set", "NAME=VALUE", "set a component property before start (repeatable)"}, SetProperty},
    {{"--set-file", "NAME=FILE",
      "set a property from FILE's content (a password kept off the\n"
      "command line; one final newline dropped)"},
     [](RunOptions& o, const OptionInput& in) { SetFromFile(o, in.value, in.origin); }},
    {{"--position", "LAT,LON,ALT,ACC", "feed a fixed position (degrees, metres) once a second"},
     [](RunOptions& o, const OptionInput& in) { SetPosition(o, in, ntrip_host::PositionOption::kFixed); }},
    {{"--positions", "FILE", "feed CSV lines LAT,LON,ALT,ACC, one a second, the last one held"},
     [](RunOptions& o, const OptionInput& in) {
       SetPosition(o, in, ntrip_host::PositionOption::kCsvFile);
     }},
    {{"--nmea", "SOURCE", "feed GGA/GST from FILE, tcp://HOST:PORT or serial:DEVICE[:BAUD]"},
     [](RunOptions& o, const OptionInput& in) { SetPosition(o, in, ntrip_host::PositionOption::kNmea); }},
    {{"--raw-out", "SINK",
      "write oRawRTCM to SINK: FILE, -, tcp-listen://[ADDR:]PORT or\n"
      "serial:DEVICE[:BAUD]"},
     [](RunOptions& o, const OptionInput& in) { SetOnce(o.raw_out, in); }},
    {{"--decoded-out", "SINK", "write oDecodeRTCM to SINK (same forms as --raw-out)"},
     [](RunOptions& o, const OptionInput& in) { SetOnce(o.decoded_out, in); }},
    {{"--duration", "SECONDS",
      "stop after this long (default: until SIGINT/SIGTERM/SIGHUP;\n"
      "demo: 20)"},
     [](RunOptions& o, const OptionInput& in) {
       o.duration_seconds = ParsePositiveNumber(in.name, in.value);
     }},
    {{"--status", "",
      "print the status each second on stderr: on a terminal one line\n"
      "redrawn in place, the link's state, age, satellites and rate\n"
      "first; elsewhere the whole line"},
     [](RunOptions& o, const OptionInput& in) { o.status = in.on; }},
    {{"--status=full", "", "the whole status line each second, on a terminal too"},
     [](RunOptions& o, const OptionInput& in) { o.status = o.status_full = in.on; }},
    {{"--status-json", "FILE",
      "write the status as one JSON object a second to FILE (- for\n"
      "stdout, unless a sink writes there)"},
     [](RunOptions& o, const OptionInput& in) { SetOnce(o.status_json, in); }},
    {{"--quiet", "", "hide information reports (warnings and errors stay)"},
     [](RunOptions& o, const OptionInput& in) { o.quiet = in.on; }},
    {{"--verbose", "", "also show the component's per-sample and trace-like reports"},
     [](RunOptions& o, const OptionInput& in) { o.verbose = in.on; }},
    {{"--sourcetable", "",
      "print the caster's streams (ip, port, tls, credentials from\n"
      "--set), nearest first with --position or --nmea, and exit"},
     [](RunOptions& o, const OptionInput& in) { o.sourcetable = in.on; }},
    {{"--json", "", "with --sourcetable: one JSON object a line"},
     [](RunOptions& o, const OptionInput& in) { o.json = in.on; }},
    {{"--nearest-mount", "",
      "before start, set mountpoint to the nearest RTCM 3 stream of\n"
      "the caster's sourcetable (needs --position or --nmea)"},
     [](RunOptions& o, const OptionInput& in) { o.nearest_mount = in.on; }},
    {{"--follow-nearest", "",
      "with --nearest-mount: as the rover moves, switch to an RTCM 3\n"
      "mount point at least 5 km and 20 % nearer"},
     [](RunOptions& o, const OptionInput& in) { o.follow_nearest = in.on; }},
    {{"--fallback", "HOST:PORT/MOUNT",
      "a caster to switch to when the current one gives no\n"
      "corrections (repeatable, in order of preference; same\n"
      "credentials, TLS, proxy and GGA); the preferred one is probed\n"
      "and taken back"},
     AddFallback},
    {{"--switch-after", "SECONDS", "switch after this long without an RTCM 3 frame (default 10)"},
     [](RunOptions& o, const OptionInput& in) {
       o.switch_after_seconds = ParsePositiveNumber(in.name, in.value);
     }},
    {{"--demo", "", "serve the bundled recordings on 127.0.0.1 and run against them"},
     [](RunOptions& o, const OptionInput& in) { o.demo = in.on; }},
    {{"--help", "", "print this text"},
     [](RunOptions& o, const OptionInput& in) { Answer(o, in, cli::Answer::kHelp); }},
    {{"--version", "", "print the program's version"},
     [](RunOptions& o, const OptionInput& in) { Answer(o, in, cli::Answer::kVersion); }},
    {{"--man", "", ""},
     [](RunOptions& o, const OptionInput& in) { Answer(o, in, cli::Answer::kManPage); }},
    {{"", "", "testing:"}},
    {{"--sampling-scale", "X", "multiply the engine's sampling periods by X (default 1)"},
     [](RunOptions& o, const OptionInput& in) {
       o.sampling_scale = ParsePositiveNumber(in.name, in.value);
     }},
    {{"--follow-period", "SECONDS",
      "with --follow-nearest, read the sourcetable at most this often\n"
      "(default 60)"},
     [](RunOptions& o, const OptionInput& in) {
       o.follow_period_seconds = ParsePositiveNumber(in.name, in.value);
     }},
    {{"--probe-period", "SECONDS",
      "on a fallback, probe the preferred caster this often (default 30)"},
     [](RunOptions& o, const OptionInput& in) {
       o.probe_period_seconds = ParsePositiveNumber(in.name, in.value);
     }},
};

constexpr std::size_t kHelpColumn = 26;

constexpr cli::Synopsis kSynopsis[] = {
    {"[options]", "run the NTRIP_Client component until a signal"},
    {"--demo [options]", "run it against a built-in caster, no network needed"},
    {"--describe", "print the component's definition"}};
constexpr cli::ExitStatus kExitStatus[] = {
    {0, "the run ended on a signal or after --duration; or what was asked (--help, --version,\n"
        "--describe, --sourcetable) was done"},
    {1, "a failure while running: the package does not load, an output or the position source\n"
        "cannot be opened, the caster's sourcetable cannot be read"},
    {2, "a bad command line, option value, property or config file"}};
constexpr std::string_view kSeeAlso[] = {"ntrip-replay-caster", "rtcm3-summary"};

constexpr cli::ProgramText kProgram{
    .name = "ntrip-host",
    .summary = "run the NTRIP_Client component: RTK corrections from an NTRIP caster",
    .synopsis = kSynopsis,
    .details =
        "ntrip-host loads the package that holds the NTRIP_Client component, sets its properties\n"
        "(--set, --set-file, --config), feeds its input iGPSPos once a second from a position\n"
        "source (--position, --positions, --nmea) and writes its outputs oRawRTCM (the caster's\n"
        "correction stream, unchanged) and oDecodeRTCM (the decoded summaries) to sinks.\n"
        "\n"
        "The component connects to the caster with the first position, sends the position as a\n"
        "GGA sentence every 10 s, and rebuilds its connection by itself when the link drops or\n"
        "the receiver's accuracy stays poor. SIGINT, SIGTERM and SIGHUP stop the run; with\n"
        "--config, SIGHUP reloads the configuration and reopens the output files instead.",
    .exit_status = kExitStatus,
    .see_also = kSeeAlso};

// Applies one option; false when `name` is no option of ntrip-host. `origin` is "FILE:LINE" for a
// config file's setting, empty for the command line.
bool ApplyOption(RunOptions& options, const std::string& name, const ValueFunction& value,
                 const FlagFunction& flag, const std::string& origin) {
  const Option* option = cli::FindOption(std::span<const Option>(kOptions), name);
  if (option == nullptr || option->apply == nullptr) return false;
  const bool takes_value = cli::TakesValue(option->text);
  const OptionInput input{name, takes_value ? value() : std::string(), takes_value || flag(), origin};
  option->apply(options, input);
  return true;
}

void CheckCombinations(const RunOptions& options) {
  if (options.describe && options.demo)
    throw UsageError("--describe and --demo exclude each other");
  if (options.raw_out == "-" && options.decoded_out == "-") {
    // Binary corrections and text summaries mixed on one stream serve no reader.
    throw UsageError("--raw-out - and --decoded-out -: only one output can go to stdout");
  }
  if (options.json && !options.sourcetable) throw UsageError("--json needs --sourcetable");
  if (options.sourcetable && (options.describe || options.demo || options.nearest_mount)) {
    throw UsageError("--sourcetable excludes --describe, --demo and --nearest-mount");
  }
  if (options.follow_nearest && !options.nearest_mount) {
    throw UsageError("--follow-nearest needs --nearest-mount");
  }
  if (!options.fallbacks.empty() && (options.sourcetable || options.demo)) {
    throw UsageError("--fallback excludes --sourcetable and --demo");
  }
  if (options.nearest_mount && (options.describe || options.demo)) {
    throw UsageError("--nearest-mount excludes --describe and --demo");
  }
  if (options.nearest_mount &&
      (!options.position || options.position->option == ntrip_host::PositionOption::kCsvFile)) {
    throw UsageError("--nearest-mount needs a position: --position or --nmea");
  }
}

bool IsPositionOption(const std::string& name) {
  return name == "--position" || name == "--positions" || name == "--nmea";
}

// Applies the command line; `given` collects the options it named, `config` its --config FILE.
void ApplyCommandLine(RunOptions& options, const std::vector<std::string>& arguments,
                      std::set<std::string>& given, std::optional<std::string>& config) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inline_value;
    // An option whose name holds its value ("--status=full") is taken whole.
    if (name.starts_with("--") &&
        cli::FindOption(std::span<const Option>(kOptions), name) == nullptr) {
      if (const std::size_t equals = name.find('='); equals != std::string::npos) {
        inline_value = name.substr(equals + 1);
        name.resize(equals);
      }
    }
    const ValueFunction value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
      return arguments[++i];
    };
    const FlagFunction flag = [&]() {
      if (inline_value) throw UsageError(name + " takes no value");
      return true;
    };
    if (name == "--config") {
      if (config) throw UsageError("--config given twice");
      config = value();
    } else if (!ApplyOption(options, name, value, flag, "")) {
      throw UsageError("unknown argument " + arguments[i]);
    }
    given.insert(name);
  }
}

// A setting of the file: an option of ntrip-host, else a component property (checked against
// the package before start). The command line's own options win over the file's.
void ApplyConfigSetting(RunOptions& options, const ConfigSetting& setting,
                        const std::set<std::string>& given) {
  const std::string name = "--" + setting.name;
  if (setting.name == "config") throw UsageError(setting.where + ": config files do not nest");
  // Properties add up, the later winning; any other option of the command line replaces the file's.
  const bool adds_up = name == "--set" || name == "--set-file";
  if (!adds_up && given.contains(name)) return;
  if (IsPositionOption(name) && std::any_of(given.begin(), given.end(), IsPositionOption)) return;
  const ValueFunction value = [&]() -> std::string {
    if (!setting.value) throw UsageError(setting.name + " needs a value");
    return *setting.value;
  };
  const FlagFunction flag = [&]() {
    if (!setting.value || *setting.value == "true") return true;
    if (*setting.value == "false") return false;
    throw UsageError(setting.name + " takes true or false, not \"" + Escaped(*setting.value) +
                     "\"");
  };
  const std::size_t properties_before = options.properties.size();
  try {
    if (!ApplyOption(options, name, value, flag, setting.where)) {
      options.AddProperty(setting.name, setting.value.value_or("true"), setting.where);
    }
  } catch (const UsageError& error) {
    // The file's own name for the setting, not the option the user did not type.
    std::string_view message = error.what();
    if (message.starts_with(name)) message.remove_prefix(2);
    throw UsageError(setting.where + ": " + std::string(message));
  }
  // A set-file line names the secret's file, which SetFromFile has looked at.
  if (name != "--set-file" && options.properties.size() > properties_before &&
      IsPasswordProperty(options.properties.back().first)) {
    WarnAboutReadablePassword(options, setting.where.substr(0, setting.where.rfind(':')));
  }
}

}  // namespace

void RunOptions::AddProperty(std::string name, std::string value, std::string origin) {
  properties.emplace_back(std::move(name), std::move(value));
  property_origins.resize(properties.size() - 1);
  property_origins.push_back(std::move(origin));
}

std::string AnswerText(cli::Answer answer, std::string_view version) {
  return cli::AnswerText(answer, kProgram, version, std::span<const Option>(kOptions), kHelpColumn);
}

RunOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  RunOptions options;
  std::set<std::string> given;
  std::optional<std::string> config;
  ApplyCommandLine(options, arguments, given, config);
  const bool had_config = config.has_value();
  if (config) {
    // The file first, then the command line again over it: its options and properties win.
    const std::string text = ReadSmallFile(*config, kSettingsFileCap, "--config");
    options = RunOptions{};
    for (const ConfigSetting& setting : ParseConfigText(text, *config)) {
      ApplyConfigSetting(options, setting, given);
    }
    given.clear();
    config.reset();
    ApplyCommandLine(options, arguments, given, config);
  }
  CheckCombinations(options);
  options.arguments = arguments;
  options.reloadable = had_config;
  return options;
}

}  // namespace ntrip_host
