#include "options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string_view>

#include "config_file.h"
#include "source_switch.h"

namespace maps_host {

const char* const kUsageText =
    "usage: ntrip-host [options]            run the NTRIP_Client component until a signal\n"
    "       ntrip-host --demo [options]     run it against a built-in caster, no network needed\n"
    "       ntrip-host --describe           print the component's definition\n"
    "options:\n"
    "  --describe              print the model, its input, outputs and properties with defaults\n"
    "  --package PATH          the package to load (default: ../lib/ntrip_client_package.so)\n"
    "  --config FILE           read settings from FILE: NAME = VALUE a line, NAME a property\n"
    "                          or an option without its dashes; the command line wins\n"
    "  --set NAME=VALUE        set a component property before start (repeatable)\n"
    "  --set-file NAME=FILE    set a property from FILE's content (a password kept off the\n"
    "                          command line; one final newline dropped)\n"
    "  --position LAT,LON,ALT,ACC  feed a fixed position (degrees, metres) once a second\n"
    "  --positions FILE        feed CSV lines LAT,LON,ALT,ACC, one a second, the last one held\n"
    "  --nmea SOURCE           feed GGA/GST from FILE, tcp://HOST:PORT or serial:DEVICE[:BAUD]\n"
    "  --raw-out SINK          write oRawRTCM to SINK: FILE, -, tcp-listen://[ADDR:]PORT or\n"
    "                          serial:DEVICE[:BAUD]\n"
    "  --decoded-out SINK      write oDecodeRTCM to SINK (same forms as --raw-out)\n"
    "  --duration SECONDS      stop after this long (default: until SIGINT/SIGTERM/SIGHUP;\n"
    "                          demo: 20)\n"
    "  --status                print one status line a second on stderr\n"
    "  --status-json FILE      write the status as one JSON object a second to FILE (- for\n"
    "                          stdout, unless a sink writes there)\n"
    "  --quiet                 hide information reports (warnings and errors stay)\n"
    "  --verbose               also show the component's per-sample and trace-like reports\n"
    "  --sourcetable           print the caster's streams (ip, port, tls, credentials from\n"
    "                          --set), nearest first with --position or --nmea, and exit\n"
    "  --json                  with --sourcetable: one JSON object a line\n"
    "  --nearest-mount         before start, set mountpoint to the nearest RTCM 3 stream of\n"
    "                          the caster's sourcetable (needs --position or --nmea)\n"
    "  --follow-nearest        with --nearest-mount: as the rover moves, switch to an RTCM 3\n"
    "                          mount point at least 5 km and 20 % nearer\n"
    "  --fallback HOST:PORT/MOUNT  a caster to switch to when the current one gives no\n"
    "                          corrections (repeatable, in order of preference; same\n"
    "                          credentials, TLS, proxy and GGA); the preferred one is probed\n"
    "                          and taken back\n"
    "  --switch-after SECONDS  switch after this long without an RTCM 3 frame (default 10)\n"
    "  --demo                  serve the bundled recordings on 127.0.0.1 and run against them\n"
    "  --help                  print this text\n"
    "  --version               print the program's version\n"
    "testing:\n"
    "  --sampling-scale X      multiply the engine's sampling periods by X (default 1)\n"
    "  --follow-period SECONDS with --follow-nearest, read the sourcetable at most this often\n"
    "                          (default 60)\n"
    "  --probe-period SECONDS  on a fallback, probe the preferred caster this often (default 30)\n";

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

void WarnAboutReadablePassword(RunOptions& options, const std::string& path) {
  if (!OthersMayRead(path)) return;
  const std::string warning =
      path + " holds a password and is readable by group or others (chmod 600 " + path + ")";
  // The command line is read twice when a config file is given: one warning a file.
  if (std::find(options.warnings.begin(), options.warnings.end(), warning) ==
      options.warnings.end()) {
    options.warnings.push_back(warning);
  }
}

std::string ReadWholeFile(const std::string& path, const std::string& what) {
  std::ifstream file(path, std::ios::binary);
  std::string content;
  if (file) content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file && !file.eof()) {
    throw UsageError(what + ": cannot read " + path + ": " + std::strerror(errno));
  }
  return content;
}

// --set-file NAME=FILE: a secret kept by a service manager or a container runtime stays off the
// command line, where every local user could read it.
void SetFromFile(RunOptions& options, const std::string& assignment, const std::string& origin) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == assignment.size()) {
    throw UsageError("--set-file \"" + assignment + "\": use --set-file NAME=FILE");
  }
  const std::string name = assignment.substr(0, equals);
  const std::string path = assignment.substr(equals + 1);
  std::string content = ReadWholeFile(path, "--set-file " + name);
  // Editors and `echo` end the file with a newline that is no part of the secret.
  if (content.ends_with('\n')) content.pop_back();
  options.AddProperty(name, content, origin);
  if (name == "password") WarnAboutReadablePassword(options, path);
}

// Applies one option; false when `name` is no option of ntrip-host. `origin` is "FILE:LINE" for a
// config file's setting, empty for the command line.
bool ApplyOption(RunOptions& options, const std::string& name, const ValueFunction& value,
                 const FlagFunction& flag, const std::string& origin) {
  auto position = [&](runner::PositionOption option) {
    const std::string text = value();
    if (options.position) {
      throw UsageError(name + ": only one of --position, --positions and --nmea may be given");
    }
    options.position = PositionChoice{option, name, text};
  };

  if (name == "--help" || name == "-h") {
    options.help = flag();
  } else if (name == "--version") {
    options.version = flag();
  } else if (name == "--describe") {
    options.describe = flag();
  } else if (name == "--demo") {
    options.demo = flag();
  } else if (name == "--status") {
    options.status = flag();
  } else if (name == "--quiet") {
    options.quiet = flag();
  } else if (name == "--verbose") {
    options.verbose = flag();
  } else if (name == "--sourcetable") {
    options.sourcetable = flag();
  } else if (name == "--json") {
    options.json = flag();
  } else if (name == "--nearest-mount") {
    options.nearest_mount = flag();
  } else if (name == "--follow-nearest") {
    options.follow_nearest = flag();
  } else if (name == "--follow-period") {
    options.follow_period_seconds = ParsePositiveNumber(name, value());
  } else if (name == "--package") {
    options.package_path = value();
  } else if (name == "--set") {
    const std::string assignment = value();
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
      throw UsageError("--set \"" + assignment + "\": use --set NAME=VALUE");
    }
    options.AddProperty(assignment.substr(0, equals), assignment.substr(equals + 1), origin);
  } else if (name == "--set-file") {
    SetFromFile(options, value(), origin);
  } else if (name == "--position") {
    position(runner::PositionOption::kFixed);
  } else if (name == "--positions") {
    position(runner::PositionOption::kCsvFile);
  } else if (name == "--nmea") {
    position(runner::PositionOption::kNmea);
  } else if (name == "--raw-out") {
    if (options.raw_out) throw UsageError("--raw-out given twice");
    options.raw_out = value();
  } else if (name == "--decoded-out") {
    if (options.decoded_out) throw UsageError("--decoded-out given twice");
    options.decoded_out = value();
  } else if (name == "--status-json") {
    if (options.status_json) throw UsageError("--status-json given twice");
    options.status_json = value();
  } else if (name == "--duration") {
    options.duration_seconds = ParsePositiveNumber(name, value());
  } else if (name == "--fallback") {
    const std::string text = value();
    try {
      ParseSource(text);
    } catch (const std::invalid_argument& error) {
      throw UsageError("--fallback " + std::string(error.what()));
    }
    options.fallbacks.push_back(text);
  } else if (name == "--switch-after") {
    options.switch_after_seconds = ParsePositiveNumber(name, value());
  } else if (name == "--probe-period") {
    options.probe_period_seconds = ParsePositiveNumber(name, value());
  } else if (name == "--sampling-scale") {
    options.sampling_scale = ParsePositiveNumber(name, value());
  } else {
    return false;
  }
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
      (!options.position || options.position->option == runner::PositionOption::kCsvFile)) {
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
    if (name.starts_with("--")) {
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
    throw UsageError(setting.name + " takes true or false, not \"" + *setting.value + "\"");
  };
  const std::size_t properties_before = options.properties.size();
  try {
    if (!ApplyOption(options, name, value, flag, setting.where)) {
      options.AddProperty(setting.name, setting.value.value_or("true"), setting.where);
    }
  } catch (const UsageError& error) {
    throw UsageError(setting.where + ": " + error.what());
  }
  // A set-file line names the secret's file, which SetFromFile has looked at.
  if (name != "--set-file" && options.properties.size() > properties_before &&
      options.properties.back().first == "password") {
    WarnAboutReadablePassword(options, setting.where.substr(0, setting.where.rfind(':')));
  }
}

}  // namespace

void RunOptions::AddProperty(std::string name, std::string value, std::string origin) {
  properties.emplace_back(std::move(name), std::move(value));
  property_origins.resize(properties.size() - 1);
  property_origins.push_back(std::move(origin));
}

RunOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  RunOptions options;
  std::set<std::string> given;
  std::optional<std::string> config;
  ApplyCommandLine(options, arguments, given, config);
  if (config) {
    // The file first, then the command line again over it: its options and properties win.
    const std::string text = ReadWholeFile(*config, "--config");
    options = RunOptions{};
    for (const ConfigSetting& setting : ParseConfigText(text, *config)) {
      ApplyConfigSetting(options, setting, given);
    }
    given.clear();
    config.reset();
    ApplyCommandLine(options, arguments, given, config);
  }
  CheckCombinations(options);
  return options;
}

}  // namespace maps_host
