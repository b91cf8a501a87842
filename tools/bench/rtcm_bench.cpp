// rtcm-bench [MEGABYTES] [--stream msm|recordings|all] [--write FILE]
//   Decoder throughput over (1) a synthetic stream of MSM 7 epochs and (2) the recordings
//   repeated: one persistent decoder fed in 2048-byte reads, and for comparison the same
//   stream through input_rtcm3 one byte at a time. Figures are MB/s (1 MB = 1e6 bytes) of
//   this thread's CPU time, which a loaded machine does not distort, and of wall time.
//   --write FILE saves the chosen stream(s) instead of measuring (for checks outside).
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rtcm/frame.h"
#include "rtcm/summary.h"
#include "msm7_frames.h"
#include "ntrip_version.h"
#include "rtcm_frame_builder.h"

namespace {

constexpr size_t kRead = 2048;

std::string RecordingsStream(size_t bytes) {
  const char* names[] = {"pygpsdata-RTCM3.log",      "pygpsdata-MIXED-RTCM3.log",
                         "pygpsdata-RTCMMSM3.log",   "pygpsdata-1240-1264.log",
                         "pygpsdata-NTRIP-4076.log", "pygpsdata-MT1023.log",
                         "pygpsdata-1230.bin"};
  std::string once;
  for (const char* name : names) once += rtcm_test::ReadRecording(name);
  std::string all;
  if (once.empty()) return all;
  while (all.size() < bytes) all += once;
  return all;
}

std::string MsmStream(size_t bytes) {
  std::string all;
  for (uint32_t tow = 100000; all.size() < bytes; tow += 1000) {
    all += bench::Msm7Frame(1077, tow, false, 16, {2, 10, 16, 24});
    all += bench::Msm7Frame(1087, tow, true, 8, {2, 9});
  }
  return all;
}

struct Timing {
  double cpu = 0.0;
  double wall = 0.0;
  size_t text_bytes = 0;
};

template <typename Run>
Timing Time(Run run) {
  Timing t;
  const double cpu_start = bench::ThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  t.text_bytes = run();
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = bench::ThreadCpuSeconds() - cpu_start;
  return t;
}

void Print(const char* label, size_t bytes, const Timing& t) {
  const double megabytes = static_cast<double>(bytes) / 1e6;
  std::printf("  %-34s %7.1f MB/s CPU (%.3f s)  %7.1f MB/s wall (%.3f s)  text %zu B\n", label,
              megabytes / t.cpu, t.cpu, megabytes / t.wall, t.wall, t.text_bytes);
}

void Measure(const char* label, const std::string& stream) {
  if (stream.empty()) {
    std::printf("%s: no data\n", label);
    return;
  }
  std::printf("%s, %.1f MB:\n", label, static_cast<double>(stream.size()) / 1e6);
  const Timing reads = Time([&] {
    rtcm::ChunkSummarizer summarizer;
    size_t text = 0;
    for (size_t at = 0; at < stream.size(); at += kRead) {
      text += summarizer.Feed(std::string_view(stream).substr(at, kRead), nullptr).size();
    }
    return text;
  });
  Print("persistent decoder, 2048-byte reads", stream.size(), reads);
  const Timing bytewise = Time([&] {
    rtcm::ChunkSummarizer summarizer;
    rtcm::RtcmDecoder* dec = &summarizer.decoder();
    std::string text;
    size_t total = 0;
    for (const char byte : stream) {
      if (rtcm::input_rtcm3(dec, static_cast<uint8_t>(byte)) != 1) continue;
      text.clear();
      rtcm::AppendEpochSummary(*dec, text);
      total += text.size();
    }
    return total;
  });
  Print("input_rtcm3 byte by byte", stream.size(), bytewise);
}

constexpr const char* kUsage =
    "usage: rtcm-bench [MEGABYTES] [--stream msm|recordings|all] [--write FILE] [--help]\n"
    "                  [--version]\n"
    "Decoder throughput (MB/s of CPU and wall time) over MSM 7 epochs and the recordings,\n"
    "in 2048-byte reads and byte by byte; --write FILE saves the stream(s) instead.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 64.0;
  std::string which = "all";
  const char* write_to = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("rtcm-bench %s\n", NTRIP_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--stream") == 0 && i + 1 < argc) {
      which = argv[++i];
    } else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
      write_to = argv[++i];
    } else if (argv[i][0] != '-' && std::atof(argv[i]) > 0) {
      megabytes = std::atof(argv[i]);
    } else {
      return Usage();
    }
  }
  if (which != "all" && which != "msm" && which != "recordings") return Usage();
  const size_t bytes = static_cast<size_t>(megabytes * 1e6);
  std::string msm;
  std::string recordings;
  if (which != "recordings") msm = MsmStream(bytes);
  if (which != "msm") recordings = RecordingsStream(bytes);
  if (write_to) {
    FILE* out = std::fopen(write_to, "wb");
    if (!out) return 1;
    std::fwrite(msm.data(), 1, msm.size(), out);
    std::fwrite(recordings.data(), 1, recordings.size(), out);
    return std::fclose(out) == 0 ? 0 : 1;
  }
  if (which != "recordings") Measure("(1) MSM 7 epochs, synthetic", msm);
  if (which != "msm") Measure("(2) recordings repeated", recordings);
  return 0;
}
