#include "options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace maps_host {

const char* const kUsageText =
    "usage: ntrip-host [options]            run the NTRIP_Client component until a signal\n"
    "       ntrip-host --demo [options]     run it against a built-in caster, no network needed\n"
    "       ntrip-host --describe           print the component's definition\n"
    "options:\n"
    "  --describe              print the model, its input, outputs and properties with defaults\n"
    "  --package PATH          the package to load (default: ../lib/ntrip_client_package.so)\n"
    "  --set NAME=VALUE        set a component property before start (repeatable)\n"
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
    "  --verbose               also show the component's per-sample information reports\n"
    "  --sourcetable           print the caster's streams (ip, port, tls, credentials from\n"
    "                          --set), nearest first with --position or --nmea, and exit\n"
    "  --json                  with --sourcetable: one JSON object a line\n"
    "  --nearest-mount         before start, set mountpoint to the nearest RTCM 3 stream of\n"
    "                          the caster's sourcetable (needs --position or --nmea)\n"
    "  --demo                  serve the bundled recordings on 127.0.0.1 and run against them\n"
    "  --help                  print this text\n"
    "  --version               print the program's version\n"
    "testing:\n"
    "  --sampling-scale X      multiply the engine's sampling periods by X (default 1)\n";

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

RunOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  RunOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inline_value;
    if (name.starts_with("--")) {
      if (const std::size_t equals = name.find('='); equals != std::string::npos) {
        inline_value = name.substr(equals + 1);
        name.resize(equals);
      }
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
      return arguments[++i];
    };
    auto flag = [&]() {
      if (inline_value) throw UsageError(name + " takes no value");
      return true;
    };
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
    } else if (name == "--package") {
      options.package_path = value();
    } else if (name == "--set") {
      const std::string assignment = value();
      const std::size_t equals = assignment.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw UsageError("--set \"" + assignment + "\": use --set NAME=VALUE");
      }
      options.properties.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
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
    } else if (name == "--sampling-scale") {
      options.sampling_scale = ParsePositiveNumber(name, value());
    } else {
      throw UsageError("unknown argument " + arguments[i]);
    }
  }
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
  if (options.nearest_mount && (options.describe || options.demo)) {
    throw UsageError("--nearest-mount excludes --describe and --demo");
  }
  if (options.nearest_mount &&
      (!options.position || options.position->option == runner::PositionOption::kCsvFile)) {
    throw UsageError("--nearest-mount needs a position: --position or --nmea");
  }
  return options;
}

}  // namespace maps_host
