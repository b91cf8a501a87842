// rtcm-bench: the decoder's throughput over (1) a synthetic stream of MSM 7 epochs and (2) the
// recordings repeated.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "rtcm/frame.h"
#include "rtcm/summary.h"
#include "msm7_frames.h"
#include "ntrip_version.h"
#include "program_text.h"
#include "rtcm_frame_builder.h"

namespace {

constexpr size_t kRead = 2048;

std::string RecordingsStream(size_t bytes) {
  const char* names[] = {"pygpsdata-RTCM3.log",      "pygpsdata-MIXED-RTCM3.log",
                         "pygpsdata-RTCMMSM3.log",   "pygpsdata-1240-1264.log",
                         "pygpsdata-NTRIP-4076.log", "pygpsdata-MT1023.log",
                         "pygpsdata-1230.bin"};
  std::string once;
  for (const char* name : names) once += fixtures::ReadRecording(name);
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

struct Arguments {
  double megabytes = 64.0;
  std::string stream = "all";
  std::string write_to;
  cli::Answer answer = cli::Answer::kNone;
};

struct Option {
  cli::OptionText text;
  void (*apply)(Arguments& args, const std::string& value) = nullptr;
};

constexpr Option kOptions[] = {
    {{"--stream", "msm|recordings|all", "which stream to measure (default all)"},
     [](Arguments& a, const std::string& v) {
       if (v != "all" && v != "msm" && v != "recordings") {
         throw cli::UsageError("--stream: \"" + v + "\" is none of msm, recordings and all");
       }
       a.stream = v;
     }},
    {{"--write", "FILE",
      "save the chosen stream(s) to FILE instead of measuring (for checks\n"
      "outside)"},
     [](Arguments& a, const std::string& v) { a.write_to = v; }},
    {{"--help", "", "this text"}},
    {{"--version", "", "the program's version"}},
    {{"--man", "", ""}},
};

constexpr std::size_t kHelpColumn = 30;

constexpr cli::Synopsis kSynopsis[] = {{"[MEGABYTES] [options]", ""}};
constexpr cli::ExitStatus kExitStatus[] = {{0, "the figures were printed, or the stream written"},
                                           {1, "--write FILE could not be written"},
                                           {2, "a bad command line"}};
constexpr std::string_view kSeeAlso[] = {"ntrip-bench", "rtcm3-summary"};

constexpr cli::ProgramText kProgram{
    .name = "rtcm-bench",
    .summary = "measure the RTCM 3 decoder's throughput",
    .synopsis = kSynopsis,
    .about =
        "Decoder throughput (MB/s of CPU and wall time) over MEGABYTES (default 64) of MSM 7\n"
        "epochs and of the recordings, in 2048-byte reads and byte by byte.",
    .details =
        "One persistent decoder is fed the stream in 2048-byte reads, like the client's\n"
        "reads, and for comparison the same stream goes through input_rtcm3 one byte at a\n"
        "time. CPU figures are this thread's CPU time, which a loaded machine does not\n"
        "distort; 1 MB is 1e6 bytes.",
    .exit_status = kExitStatus,
    .see_also = kSeeAlso};

// Throws cli::UsageError.
Arguments ParseArguments(const std::vector<std::string>& arguments) {
  Arguments args;
  args.answer = cli::ParseArguments(std::span<const Option>(kOptions), arguments, args,
                                    [&](const std::string& operand) {
                                      args.megabytes = cli::ParseNumber("MEGABYTES", operand);
                                      if (args.megabytes <= 0)
                                        throw cli::UsageError("MEGABYTES must be above 0");
                                    });
  return args;
}

std::string AnswerText(cli::Answer answer) {
  return cli::AnswerText(answer, kProgram, NTRIP_VERSION, std::span<const Option>(kOptions),
                         kHelpColumn);
}

bool WriteStreams(const std::string& path, const std::string& msm, const std::string& recordings) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fwrite(msm.data(), 1, msm.size(), out);
  std::fwrite(recordings.data(), 1, recordings.size(), out);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  const auto parse = [&] {
    args = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    return args.answer;
  };
  if (const auto status = cli::EndBeforeRunning(kProgram.name, parse, AnswerText)) return *status;
  const size_t bytes = static_cast<size_t>(args.megabytes * 1e6);
  std::string msm;
  std::string recordings;
  if (args.stream != "recordings") msm = MsmStream(bytes);
  if (args.stream != "msm") recordings = RecordingsStream(bytes);
  if (!args.write_to.empty()) return WriteStreams(args.write_to, msm, recordings) ? 0 : 1;
  if (args.stream != "recordings") Measure("(1) MSM 7 epochs, synthetic", msm);
  if (args.stream != "msm") Measure("(2) recordings repeated", recordings);
  return 0;
}
