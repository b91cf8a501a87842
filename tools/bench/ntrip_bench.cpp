// ntrip-bench: the replay caster and the engine with the real NTRIP client package, both in this
// process, on loopback. Prints bytes served and out per connection, reconnects, the delay from a
// caster write to the same bytes leaving oRawRTCM, throughput, memory and CPU, then the decoder's
// MB/s over a long MSM 7 stream. With --vs-relay: ntrip-host into a pipe beside a bare relay, the
// delays of both and their ratios. Figures only: it asserts nothing.
#include <cstdio>
#include <exception>
#include <utility>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ntrip_bench_options.h"
#include "ntrip_bench_relay.h"
#include "ntrip_bench_stream.h"
#include "ntrip_version.h"
#include "throwaway_certificates.h"

namespace {

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

ntrip_bench::BenchChoice Defaults() {
  ntrip_bench::BenchChoice defaults;
  defaults.run.package = DefaultPackage();
  defaults.failover.host_program = DefaultHostProgram();
  return defaults;
}

// A plain run, then the same over TLS with throw-away certificates, and the figures side by side.
int CompareWithTls(ntrip_bench::RunOptions options) {
  ntrip_bench::Figures plain, tls;
  if (const int status = ntrip_bench::Run(options, &plain); status != 0) return status;
  try {
    const auto& certificates = fixtures::Certificates();
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

void PrintDecoderFigure(double megabytes) {
  const auto f = ntrip_bench::MeasureDecoder(megabytes);
  std::printf(
      "decoder, MSM 7 stream %.1f MB in 2048-byte reads: %.1f MB/s CPU (%.3f s), "
      "%.1f MB/s wall (%.3f s)\n",
      f.megabytes, f.megabytes / f.cpu_seconds, f.cpu_seconds, f.megabytes / f.wall_seconds,
      f.wall_seconds);
}

// The streaming run (plain, or plain and TLS), then the decoder's figure.
int RunAndMeasureDecoder(const ntrip_bench::BenchChoice& choice) {
  int status = 0;
  if (!choice.decoder_only)
    status = choice.tls ? CompareWithTls(choice.run) : ntrip_bench::Run(choice.run);
  if (choice.decoder_mb > 0) PrintDecoderFigure(choice.decoder_mb);
  return status;
}

int RunChosen(const ntrip_bench::BenchChoice& choice) {
  if (choice.relay_child_port) return ntrip_bench::RunRelayChild(*choice.relay_child_port);
  if (choice.failover.cycles > 0) return ntrip_bench::RunFailover(choice.failover);
  if (choice.vs_relay) {
    const ntrip_bench::RunOptions& run = choice.run;
    return ntrip_bench::CompareWithRelay({run.duration_s, run.rate > 0 ? run.rate : 3000,
                                          run.decode, choice.failover.host_program, run.package});
  }
  return RunAndMeasureDecoder(choice);
}

}  // namespace

int main(int argc, char** argv) {
  ntrip_bench::BenchChoice choice;
  const auto parse = [&] {
    choice = ntrip_bench::ParseBenchCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                                Defaults());
    return choice.answer;
  };
  const auto answer_text = [](cli::Answer answer) {
    return ntrip_bench::BenchAnswerText(answer, NTRIP_VERSION);
  };
  if (const auto status = cli::EndBeforeRunning("ntrip-bench", parse, answer_text)) return *status;
  return RunChosen(choice);
}
