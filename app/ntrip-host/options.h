#pragma once
// The command line of ntrip-host: what to run and how, parsed before anything starts.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "positions/position_source.h"
#include "program_text.h"

namespace ntrip_host {

// A command line that cannot be run: the program exits with status 2.
class UsageError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

struct PositionChoice {
  ntrip_host::PositionOption option = ntrip_host::PositionOption::kFixed;
  std::string option_name;  // "--position", "--positions" or "--nmea"
  std::string text;
  std::string origin;  // "FILE:LINE" when a config file gave it
};

struct RunOptions {
  cli::Answer answer = cli::Answer::kNone;  // --help, --version or --man instead of running
  bool describe = false;
  bool demo = false;
  bool status = false;
  bool status_full = false;  // the whole line even on a terminal
  bool quiet = false;
  bool verbose = false;
  bool sourcetable = false;            // print the caster's streams and exit
  bool json = false;                   // with --sourcetable: JSON Lines
  bool nearest_mount = false;          // set mountpoint to the nearest RTCM 3 stream before start
  bool follow_nearest = false;         // with nearest_mount: move to a nearer one while running
  std::filesystem::path package_path;  // empty: next to the program
  // --set NAME=VALUE in command-line order; later ones win. A config file's come first.
  std::vector<std::pair<std::string, std::string>> properties;
  // Beside each property: "FILE:LINE" when a config file set it, empty for the command line.
  std::vector<std::string> property_origins;
  // Said at start: files holding a password that others may read.
  std::vector<std::string> warnings;
  std::optional<PositionChoice> position;
  std::optional<std::string> raw_out;
  std::optional<std::string> decoded_out;
  std::optional<std::string> status_json;  // FILE or - (stdout)
  std::optional<double> duration_seconds;  // empty: until a signal (the demo: 20 s)
  double sampling_scale = 1.0;             // multiplies the engine's sampling periods
  // --fallback HOST:PORT/MOUNT in order of preference, after the preferred source.
  std::vector<std::string> fallbacks;
  double switch_after_seconds = 10;  // no right RTCM 3 frame for this long: the next source
  double probe_period_seconds = 30;
  double follow_period_seconds = 60;  // --follow-nearest reads the sourcetable at most this often  // on a fallback: how often the preferred source is probed

  // The command line as given: a reload reads it (and its files) again.
  std::vector<std::string> arguments;
  bool reloadable = false;  // --config given: SIGHUP reloads instead of stopping

  bool HasProperty(const std::string& name) const;
  void AddProperty(std::string name, std::string value, std::string origin);
};

// Reads --config FILE and --set-file's files too. Throws UsageError naming the option (or
// FILE:LINE) and what is wrong with it.
RunOptions ParseCommandLine(const std::vector<std::string>& arguments);

// What --help, --version or --man prints, from the table the options are parsed with.
std::string AnswerText(cli::Answer answer, std::string_view version);

}  // namespace ntrip_host
