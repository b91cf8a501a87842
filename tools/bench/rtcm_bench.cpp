// rtcm-bench [MEGABYTES]: decoder throughput with one persistent decoder fed in 2048-byte
// reads, over (1) the recordings repeated and (2) a synthetic stream of MSM 7 epochs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "rtcm/summary.h"
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

// One MSM 7 message: nsat satellites (ids 1..nsat) and the signals given, every cell set.
std::vector<uint8_t> Msm7(int type, uint32_t tow_ms, bool last, int nsat,
                          const std::vector<int>& signals) {
  rtcm_test::BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(last ? 0 : 1, 1);
  w.Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  uint64_t sat_mask = 0;
  for (int s = 1; s <= nsat; ++s) sat_mask |= uint64_t{1} << (64 - s);
  w.Unsigned(sat_mask, 64);
  uint32_t sig_mask = 0;
  for (int id : signals) sig_mask |= 1u << (32 - id);
  w.Unsigned(sig_mask, 32);
  const int ncell = nsat * static_cast<int>(signals.size());
  for (int c = 0; c < ncell; ++c) w.Unsigned(1, 1);
  for (int s = 0; s < nsat; ++s) w.Unsigned(70 + s, 8);
  for (int s = 0; s < nsat; ++s) w.Unsigned(7, 4);
  for (int s = 0; s < nsat; ++s) w.Unsigned(100 + s, 10);
  for (int s = 0; s < nsat; ++s) w.Signed(-300 + s, 14);
  for (int c = 0; c < ncell; ++c) w.Signed(1000 * c, 20);
  for (int c = 0; c < ncell; ++c) w.Signed(2000 * c, 24);
  for (int c = 0; c < ncell; ++c) w.Unsigned(500, 10);
  for (int c = 0; c < ncell; ++c) w.Unsigned(0, 1);
  for (int c = 0; c < ncell; ++c) w.Unsigned(700, 10);
  for (int c = 0; c < ncell; ++c) w.Signed(-50 * c, 15);
  return rtcm_test::FrameOf(type, w);
}

std::string MsmStream(size_t bytes) {
  std::string all;
  for (uint32_t tow = 100000; all.size() < bytes; tow += 1000) {
    all += rtcm_test::AsString(Msm7(1077, tow, false, 16, {2, 10, 16, 24}));
    all += rtcm_test::AsString(Msm7(1087, tow, true, 8, {2, 9}));
  }
  return all;
}

void Measure(const char* label, const std::string& stream) {
  if (stream.empty()) {
    std::printf("%-28s no data\n", label);
    return;
  }
  rtcm::ChunkSummarizer summarizer;
  size_t text_bytes = 0;
  // CPU time as well as wall time: on a loaded machine the wall figure understates the decoder.
  const std::clock_t cpu_start = std::clock();
  const auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < stream.size(); at += kRead) {
    text_bytes += summarizer.Feed(std::string_view(stream).substr(at, kRead), nullptr).size();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  const double megabytes = static_cast<double>(stream.size()) / 1e6;
  std::printf("%-26s %6.1f MB: %7.1f MB/s wall (%.3f s), %7.1f MB/s CPU (%.3f s); text %zu B\n",
              label, megabytes, megabytes / seconds, seconds, megabytes / cpu_seconds, cpu_seconds,
              text_bytes);
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 64.0;
  const size_t bytes = static_cast<size_t>((megabytes > 0 ? megabytes : 64.0) * 1e6);
  Measure("recordings repeated", RecordingsStream(bytes));
  Measure("MSM 7 epochs (synthetic)", MsmStream(bytes));
  return 0;
}
