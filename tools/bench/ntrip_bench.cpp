// ntrip-bench: the replay caster and the engine with the real NTRIP client package, both in this
// process, on loopback. Prints bytes served and out per connection, reconnects, the delay from a
// caster write to the same bytes leaving oRawRTCM, throughput, memory and CPU, then the decoder's
// MB/s over a long MSM 7 stream. With --vs-relay: ntrip-host into a pipe beside a bare relay, the
// delays of both and their ratios. Figures only: it asserts nothing.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>
#include <filesystem>
#include <string>
#include <system_error>

#include "ntrip_bench_failover.h"
#include "ntrip_bench_relay.h"
#include "ntrip_bench_run.h"
#include "ntrip_bench_stream.h"
#include "ntrip_version.h"
#include "test_certificates.h"

namespace {

constexpr const char* kUsage =
    "usage: ntrip-bench [--duration SECONDS] [--rate BYTES_PER_SECOND (0: full speed)]\n"
    "                   [--split-frames] [--restart-every SECONDS] [--max-bytes N]\n"
    "                   [--drop-every [SECONDS (default 3)]] [--log file|none]\n"
    "                   [--keep-log] [--decode on|off] [--package PATH]\n"
    "                   [--recording FILE] [--seed N]\n"
    "                   [--decoder-mb MEGABYTES (0: skip)] [--decoder-only]\n"
    "                   [--tls (a plain run, then the same over TLS, and both side by side)]\n"
    "                   [--failover N [--switch-after S] [--probe-period S]]\n"
    "                   [--vs-relay (ntrip-host into a pipe beside a bare relay, one run)]\n"
    "                   [--host PATH (the ntrip-host of --failover and --vs-relay)]\n"
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

// ntrip-host beside this program.
std::string DefaultHostProgram() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("ntrip-host") : (self.parent_path() / "ntrip-host").string();
}

// A plain run, then the same over TLS with throw-away certificates, and the figures side by side.
int CompareWithTls(ntrip_bench::RunOptions options) {
  ntrip_bench::Figures plain, tls;
  if (const int status = ntrip_bench::Run(options, &plain); status != 0) return status;
  try {
    const auto& certificates = test_support::Certificates();
    options.tls_cert_file = certificates.server_cert;
    options.tls_key_file = certificates.server_key;
    options.tls_ca_file = certificates.authority;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("\n");
  if (const int status = ntrip_bench::Run(options, &tls); status != 0) return status;
  std::printf(
      "\nplain and TLS side by side (CPU: caster and client in this process):\n"
      "         delay p50    delay p99    throughput     CPU per MB\n");
  for (const auto& [name, f] : {std::pair{"plain", plain}, std::pair{"TLS  ", tls}}) {
    std::printf("  %s  %8.3f ms  %8.3f ms  %8.3f MiB/s  %8.4f s\n", name, f.delay_p50_ms,
                f.delay_p99_ms, f.mib_per_s, f.cpu_s_per_mb);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == ntrip_bench::kRelayChildOption) {
    return ntrip_bench::RunRelayChild(static_cast<std::uint16_t>(std::stoi(argv[2])));
  }
  ntrip_bench::RunOptions options;
  options.package = DefaultPackage();
  double decoder_mb = 64;
  bool decoder_only = false;
  bool tls = false;
  ntrip_bench::FailoverOptions failover;
  failover.cycles = 0;
  failover.host_program = DefaultHostProgram();
  bool vs_relay = false;
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
    } else if (arg == "--tls") {
      tls = true;
    } else if (arg == "--failover" && has_value) {
      failover.cycles = std::atoi(value().c_str());
      if (failover.cycles <= 0) return Usage();
    } else if (arg == "--switch-after" && has_value) {
      failover.switch_after_s = std::atof(value().c_str());
    } else if (arg == "--probe-period" && has_value) {
      failover.probe_period_s = std::atof(value().c_str());
    } else if (arg == "--vs-relay") {
      vs_relay = true;
    } else if (arg == "--host" && has_value) {
      failover.host_program = value();
    } else if (arg == "--decoder-only") {
      decoder_only = true;
    } else {
      return Usage();
    }
  }
  if (options.duration_s <= 0 || options.rate < 0 || options.restart_every_s < 0 ||
      options.drop_every_s < 0 || (options.drop_every_s > 0 && options.rate == 0))
    return Usage();

  if (failover.cycles > 0) return ntrip_bench::RunFailover(failover);
  if (vs_relay) {
    return ntrip_bench::CompareWithRelay(
        {options.duration_s, options.rate > 0 ? options.rate : 3000, options.decode,
         failover.host_program, options.package});
  }
  int status = 0;
  if (!decoder_only && !tls) status = ntrip_bench::Run(options);
  if (!decoder_only && tls) status = CompareWithTls(options);
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
