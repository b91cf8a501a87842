#include "ntrip_bench_options.h"

#include <span>

#include "ntrip_bench_relay.h"

namespace ntrip_bench {

namespace {

struct Option {
  cli::OptionText text;
  void (*apply)(BenchChoice& choice, const std::string& value) = nullptr;
};

bool OnOrOff(const std::string& option, const std::string& value, const char* on, const char* off) {
  if (value != on && value != off) {
    throw cli::UsageError(option + ": \"" + value + "\" is neither " + on + " nor " + off);
  }
  return value == on;
}

constexpr Option kOptions[] = {
    {{"--duration", "SECONDS", "how long the run streams (default 30)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.duration_s = cli::ParseNumber("--duration", v);
     }},
    {{"--rate", "BYTES_PER_SECOND", "the caster's pace (default 3000; 0: full speed)"},
     [](BenchChoice& c, const std::string& v) { c.run.rate = cli::ParseNumber("--rate", v); }},
    {{"--split-frames", "", "with a rate: writes of rate/50 bytes, not one whole frame each"},
     [](BenchChoice& c, const std::string&) { c.run.whole_frames = false; }},
    {{"--restart-every", "SECONDS", "restart the caster about this often (+-30 %)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.restart_every_s = cli::ParseNumber("--restart-every", v);
     }},
    {{"--max-bytes", "N", "the caster ends each connection cleanly after N bytes"},
     [](BenchChoice& c, const std::string& v) {
       c.run.max_bytes = static_cast<std::size_t>(cli::ParseCount("--max-bytes", v, SIZE_MAX));
     }},
    {{"--drop-every", "[SECONDS]",
      "the caster drops each connection after about this long (default 3;\n"
      "needs a rate)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.drop_every_s = v.empty() ? 3 : cli::ParseNumber("--drop-every", v);
     }},
    {{"--log", "file|none",
      "the component logs to files in a temporary folder, or nowhere\n"
      "(default file)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.log_file = OnOrOff("--log", v, "file", "none");
     }},
    {{"--keep-log", "", "keep the log folder after the run"},
     [](BenchChoice& c, const std::string&) { c.run.keep_log = true; }},
    {{"--decode", "on|off", "the component's decode_rtcm (default on)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.decode = OnOrOff("--decode", v, "on", "off");
     }},
    {{"--package", "PATH", "the package to load (default: beside the program)"},
     [](BenchChoice& c, const std::string& v) { c.run.package = v; }},
    {{"--recording", "FILE",
      "serve FILE (or a recording of data/) instead of synthetic MSM 7\n"
      "epochs"},
     [](BenchChoice& c, const std::string& v) { c.run.recording = v; }},
    {{"--seed", "N", "seed of the restarts' jitter (default 1)"},
     [](BenchChoice& c, const std::string& v) {
       c.run.seed = static_cast<std::uint32_t>(cli::ParseCount("--seed", v, UINT32_MAX));
     }},
    {{"--decoder-mb", "MEGABYTES",
      "then the decoder over this much of an MSM 7 stream (default 64;\n"
      "0: skip)"},
     [](BenchChoice& c, const std::string& v) {
       c.decoder_mb = cli::ParseNumber("--decoder-mb", v);
     }},
    {{"--decoder-only", "", "only the decoder's figure"},
     [](BenchChoice& c, const std::string&) { c.decoder_only = true; }},
    {{"--tls", "", "a plain run, then the same over TLS, and both side by side"},
     [](BenchChoice& c, const std::string&) { c.tls = true; }},
    {{"--failover", "N",
      "ntrip-host against two casters, the preferred one killed and\n"
      "restarted N times: the gaps of each switch"},
     [](BenchChoice& c, const std::string& v) {
       c.failover.cycles = static_cast<int>(cli::ParseCount("--failover", v, 1000000));
       if (c.failover.cycles == 0) throw cli::UsageError("--failover needs at least 1 cycle");
     }},
    {{"--switch-after", "SECONDS", "with --failover: ntrip-host's --switch-after (default 10)"},
     [](BenchChoice& c, const std::string& v) {
       c.failover.switch_after_s = cli::ParseNumber("--switch-after", v);
     }},
    {{"--probe-period", "SECONDS", "with --failover: ntrip-host's --probe-period (default 30)"},
     [](BenchChoice& c, const std::string& v) {
       c.failover.probe_period_s = cli::ParseNumber("--probe-period", v);
     }},
    {{"--vs-relay", "", "ntrip-host into a pipe beside a bare relay, one run"},
     [](BenchChoice& c, const std::string&) { c.vs_relay = true; }},
    {{"--host", "PATH",
      "the ntrip-host of --failover and --vs-relay (default: beside the\n"
      "program)"},
     [](BenchChoice& c, const std::string& v) { c.failover.host_program = v; }},
    {{"--help", "", "this text"}},
    {{"--version", "", "the program's version"}},
    {{"--man", "", ""}},
    {{kRelayChildOption, "PORT", ""},
     [](BenchChoice& c, const std::string& v) {
       c.relay_child_port =
           static_cast<std::uint16_t>(cli::ParseCount(kRelayChildOption, v, 65535));
     }},
};

constexpr std::size_t kHelpColumn = 29;

constexpr cli::Synopsis kSynopsis[] = {{"[options]", ""}};
constexpr cli::ExitStatus kExitStatus[] = {
    {0, "the figures were printed (the bench asserts nothing)"},
    {1, "a run could not be set up"},
    {2, "a bad command line"}};
constexpr std::string_view kSeeAlso[] = {"ntrip-host", "ntrip-replay-caster", "rtcm-bench"};

constexpr cli::ProgramText kProgram{
    .name = "ntrip-bench",
    .summary = "measure the NTRIP client package against the replay caster on loopback",
    .synopsis = kSynopsis,
    .about =
        "Runs the replay caster and the engine with the real package in this process, on\n"
        "loopback, and prints bytes served and out per connection, reconnects, the delay\n"
        "from a caster write to the same bytes on oRawRTCM, throughput, memory and CPU;\n"
        "then the decoder's MB/s over a long MSM 7 stream. Figures only.",
    .exit_status = kExitStatus,
    .see_also = kSeeAlso};

void CheckChoice(const BenchChoice& choice) {
  const RunOptions& run = choice.run;
  if (run.duration_s <= 0) throw cli::UsageError("--duration must be above 0");
  if (run.rate < 0 || run.restart_every_s < 0 || run.drop_every_s < 0) {
    throw cli::UsageError("--rate, --restart-every and --drop-every cannot be negative");
  }
  if (run.drop_every_s > 0 && run.rate == 0) throw cli::UsageError("--drop-every needs a rate");
}

}  // namespace

BenchChoice ParseBenchCommandLine(const std::vector<std::string>& arguments, BenchChoice defaults) {
  BenchChoice choice = std::move(defaults);
  choice.answer = cli::ParseArguments(std::span<const Option>(kOptions), arguments, choice);
  if (choice.answer == cli::Answer::kNone) CheckChoice(choice);
  return choice;
}

std::string BenchAnswerText(cli::Answer answer, std::string_view version) {
  return cli::AnswerText(answer, kProgram, version, std::span<const Option>(kOptions), kHelpColumn);
}

}  // namespace ntrip_bench
