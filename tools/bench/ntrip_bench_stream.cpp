#include "ntrip_bench_stream.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

#include "rtcm/summary.h"
#include "msm7_frames.h"

namespace ntrip_bench {
namespace {

std::string Epoch(std::uint32_t tow_ms) {
  std::string e;
  e += bench::Msm7Frame(1077, tow_ms, false, 16, {2, 10, 16, 24});
  e += bench::Msm7Frame(1087, tow_ms, false, 12, {2, 9, 10, 16});
  e += bench::Msm7Frame(1097, tow_ms, false, 16, {2, 8, 16, 22});
  e += bench::Msm7Frame(1117, tow_ms, false, 4, {2, 9, 16});
  e += bench::Msm7Frame(1127, tow_ms, true, 16, {2, 8, 14, 22});
  return e;
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
  const double cpu_start = bench::ThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < stream.size(); at += kRead)
    text += summarizer.Feed(std::string_view(stream).substr(at, kRead), nullptr).size();
  DecoderFigure f;
  f.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.cpu_seconds = bench::ThreadCpuSeconds() - cpu_start;
  f.megabytes = static_cast<double>(stream.size()) / 1e6;
  if (text == 0) f.megabytes = 0;  // nothing decoded: the figure would mean nothing
  return f;
}

}  // namespace ntrip_bench
