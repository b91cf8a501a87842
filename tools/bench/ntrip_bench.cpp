// ntrip-bench: the replay caster and the engine with the real NTRIP client package, both in this
// process, on loopback. Prints bytes served and out per connection, reconnects, the delay from a
// caster write to the same bytes leaving oRawRTCM, throughput, memory and CPU, then the decoder's
// MB/s over a long MSM 7 stream. Figures only: it asserts nothing.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "ntrip_bench_run.h"
#include "ntrip_bench_stream.h"
#include "ntrip_version.h"

namespace {

constexpr const char* kUsage =
    "usage: ntrip-bench [--duration SECONDS] [--rate BYTES_PER_SECOND (0: full speed)]\n"
    "                   [--split-frames] [--restart-every SECONDS] [--max-bytes N]\n"
    "                   [--drop-every [SECONDS (default 3)]] [--log file|none]\n"
    "                   [--keep-log] [--decode on|off] [--package PATH]\n"
    "                   [--recording FILE] [--seed N]\n"
    "                   [--decoder-mb MEGABYTES (0: skip)] [--decoder-only]\n"
    "                   [--help] [--version]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Next to the executable first (bin/../lib), then the package this program was built with.
std::string DefaultPackage() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path().parent_path() / "lib" / "ntrip_client_package.so";
    if (std::filesystem::exists(beside, ec)) return beside.string();
  }
  return NTRIP_PACKAGE_PATH;
}

}  // namespace

int main(int argc, char** argv) {
  ntrip_bench::RunOptions options;
  options.package = DefaultPackage();
  double decoder_mb = 64;
  bool decoder_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    auto value = [&] { return std::string(argv[++i]); };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("ntrip-bench %s\n", NTRIP_VERSION);
      return 0;
    } else if (arg == "--duration" && has_value) {
      options.duration_s = std::atof(value().c_str());
    } else if (arg == "--rate" && has_value) {
      options.rate = std::atof(value().c_str());
    } else if (arg == "--split-frames") {
      options.whole_frames = false;
    } else if (arg == "--restart-every" && has_value) {
      options.restart_every_s = std::atof(value().c_str());
    } else if (arg == "--max-bytes" && has_value) {
      options.max_bytes = static_cast<std::size_t>(std::strtoull(value().c_str(), nullptr, 10));
    } else if (arg == "--drop-every") {
      options.drop_every_s = 3;
      if (has_value && std::string(argv[i + 1]).rfind("--", 0) != 0)
        options.drop_every_s = std::atof(value().c_str());
    } else if (arg == "--log" && has_value) {
      const std::string v = value();
      if (v != "file" && v != "none") return Usage();
      options.log_file = v == "file";
    } else if (arg == "--keep-log") {
      options.keep_log = true;
    } else if (arg == "--decode" && has_value) {
      const std::string v = value();
      if (v != "on" && v != "off") return Usage();
      options.decode = v == "on";
    } else if (arg == "--package" && has_value) {
      options.package = value();
    } else if (arg == "--recording" && has_value) {
      options.recording = value();
    } else if (arg == "--seed" && has_value) {
      options.seed = static_cast<std::uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--decoder-mb" && has_value) {
      decoder_mb = std::atof(value().c_str());
    } else if (arg == "--decoder-only") {
      decoder_only = true;
    } else {
      return Usage();
    }
  }
  if (options.duration_s <= 0 || options.rate < 0 || options.restart_every_s < 0 ||
      options.drop_every_s < 0 || (options.drop_every_s > 0 && options.rate == 0))
    return Usage();

  int status = 0;
  if (!decoder_only) status = ntrip_bench::Run(options);
  if (decoder_mb > 0) {
    const auto f = ntrip_bench::MeasureDecoder(decoder_mb);
    std::printf(
        "decoder, MSM 7 stream %.1f MB in 2048-byte reads: %.1f MB/s CPU (%.3f s), "
        "%.1f MB/s wall (%.3f s)\n",
        f.megabytes, f.megabytes / f.cpu_seconds, f.cpu_seconds, f.megabytes / f.wall_seconds,
        f.wall_seconds);
  }
  return status;
}
