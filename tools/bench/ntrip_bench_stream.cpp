#include "ntrip_bench_stream.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

#include "rtcm/summary.h"
#include "rtcm_frame_builder.h"

namespace ntrip_bench {
namespace {

// One MSM 7 message: satellites 1..nsat and the signals given, every cell set.
std::string Msm7(int type, std::uint32_t tow_ms, bool last, int nsat,
                 const std::vector<int>& signals) {
  rtcm_test::BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(last ? 0 : 1, 1);
  w.Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  std::uint64_t sat_mask = 0;
  for (int s = 1; s <= nsat; ++s) sat_mask |= std::uint64_t{1} << (64 - s);
  w.Unsigned(sat_mask, 64);
  std::uint32_t sig_mask = 0;
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
  return rtcm_test::AsString(rtcm_test::FrameOf(type, w));
}

std::string Epoch(std::uint32_t tow_ms) {
  std::string e;
  e += Msm7(1077, tow_ms, false, 16, {2, 10, 16, 24});
  e += Msm7(1087, tow_ms, false, 12, {2, 9, 10, 16});
  e += Msm7(1097, tow_ms, false, 16, {2, 8, 16, 22});
  e += Msm7(1117, tow_ms, false, 4, {2, 9, 16});
  e += Msm7(1127, tow_ms, true, 16, {2, 8, 14, 22});
  return e;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

std::string MsmEpochs(std::size_t epochs) {
  std::string all;
  for (std::size_t i = 0; i < epochs; ++i)
    all += Epoch(100000 + static_cast<std::uint32_t>(i) * 1000);
  return all;
}

std::size_t MsmEpochBytes() {
  return Epoch(100000).size();
}

DecoderFigure MeasureDecoder(double megabytes) {
  const auto bytes = static_cast<std::size_t>(megabytes * 1e6);
  const std::string period = MsmEpochs(600);
  std::string stream;
  stream.reserve(bytes + period.size());
  while (stream.size() < bytes) stream += period;

  constexpr std::size_t kRead = 2048;
  rtcm::ChunkSummarizer summarizer;
  std::size_t text = 0;
  const double cpu_start = ThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < stream.size(); at += kRead)
    text += summarizer.Feed(std::string_view(stream).substr(at, kRead), nullptr).size();
  DecoderFigure f;
  f.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.cpu_seconds = ThreadCpuSeconds() - cpu_start;
  f.megabytes = static_cast<double>(stream.size()) / 1e6;
  if (text == 0) f.megabytes = 0;  // nothing decoded: the figure would mean nothing
  return f;
}

}  // namespace ntrip_bench
