// rtcm3-summary: the decoder over a recording, offline. The input is streamed in fixed-size
// reads, so memory does not grow with its size.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "json_nav.h"
#include "json_obs.h"
#include "ntrip_version.h"
#include "program_text.h"
#include "rtcm/frame.h"
#include "rtcm/summary.h"

namespace {

constexpr size_t kReadBytes = 65536;
constexpr long long kProgressFrom = 100'000'000;  // inputs above this show progress

struct Arguments {
  std::string file;
  size_t chunk = 2048;
  bool json = false;
  bool counts = false;
  cli::Answer answer = cli::Answer::kNone;
};

struct Option {
  cli::OptionText text;
  void (*apply)(Arguments& args, const std::string& value) = nullptr;
};

constexpr Option kOptions[] = {
    {{"--chunk", "N",
      "feed the decoder in reads of N bytes (default 2048; the text does not\n"
      "depend on N)"},
     [](Arguments& a, const std::string& v) {
       a.chunk = static_cast<size_t>(cli::ParseCount("--chunk", v, SIZE_MAX));
       if (a.chunk == 0) throw cli::UsageError("--chunk needs a positive number of bytes");
     }},
    {{"--json", "", "one JSON object per frame with a right CRC instead of the summary"},
     [](Arguments& a, const std::string&) { a.json = true; }},
    {{"--counts", "", "the message counts on stderr at the end"},
     [](Arguments& a, const std::string&) { a.counts = true; }},
    {{"--help", "", "this text"}},
    {{"--version", "", "the program's version"}},
    {{"--man", "", ""}},
};

constexpr std::size_t kHelpColumn = 14;

constexpr cli::Synopsis kSynopsis[] = {{"FILE|- [--chunk N] [--json] [--counts]", ""}};
constexpr cli::ExitStatus kExitStatus[] = {
    {0, "the whole input was decoded and its text written"},
    {1, "the input cannot be read or the output cannot be written"},
    {2, "a bad command line"}};
constexpr std::string_view kSeeAlso[] = {"ntrip-host", "ntrip-replay-caster"};

constexpr cli::ProgramText kProgram{
    .name = "rtcm3-summary",
    .summary = "decode a recording of RTCM 3 frames offline",
    .synopsis = kSynopsis,
    .about =
        "Decodes a recording of RTCM 3 frames (- reads standard input) and prints the\n"
        "summary text the component publishes for it.",
    .details =
        "With --json it prints one JSON object per frame with a right CRC: type, length, result,\n"
        "and what the decoder stored (station record, epoch observations, ephemerides, SSR\n"
        "corrections). The input is streamed in fixed-size reads, so memory does not grow with\n"
        "it; on a terminal, inputs over 100 MB show their progress on stderr. After a CRC\n"
        "failure the decoder looks for the next frame at the byte after the false 0xD3.",
    .exit_status = kExitStatus,
    .see_also = kSeeAlso};

// Throws cli::UsageError.
Arguments ParseArguments(const std::vector<std::string>& arguments) {
  Arguments args;
  args.answer = cli::ParseArguments(std::span<const Option>(kOptions), arguments, args,
                                    [&](const std::string& operand) {
                                      if (!args.file.empty())
                                        throw cli::UsageError("only one FILE may be given");
                                      args.file = operand;
                                    });
  if (args.file.empty() && args.answer == cli::Answer::kNone) {
    throw cli::UsageError("no FILE given");
  }
  return args;
}

std::string AnswerText(cli::Answer answer) {
  return cli::AnswerText(answer, kProgram, NTRIP_VERSION, std::span<const Option>(kOptions),
                         kHelpColumn);
}

// "x MB of y MB" on one line of a terminal, at most twice a second.
class Progress {
 public:
  Progress(FILE* input) {
    struct stat info {};
    if (fstat(fileno(input), &info) == 0 && S_ISREG(info.st_mode)) _total = info.st_size;
    _shown = isatty(STDERR_FILENO) == 1 && (_total < 0 || _total > kProgressFrom);
  }
  void Add(size_t bytes) {
    _done += static_cast<long long>(bytes);
    if (!_shown || (_total < 0 && _done <= kProgressFrom)) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - _last < std::chrono::milliseconds(500)) return;
    _last = now;
    if (_total > 0) {
      std::fprintf(stderr, "\rrtcm3-summary: %lld of %lld MB (%lld %%)", _done / 1'000'000,
                   _total / 1'000'000, _done * 100 / _total);
    } else {
      std::fprintf(stderr, "\rrtcm3-summary: %lld MB", _done / 1'000'000);
    }
    _printed = true;
  }
  ~Progress() {
    if (_printed) std::fprintf(stderr, "\n");
  }

 private:
  long long _total = -1;
  long long _done = 0;
  bool _shown = false;
  bool _printed = false;
  std::chrono::steady_clock::time_point _last{};
};

void PrintFrameJson(rtcm::RtcmDecoder& dec, int result) {
  const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
  nlohmann::json out{{"type", type}, {"length", dec.len - 3}, {"result", result}};
  if (result == 5) out["station"] = StationJson(dec.station);
  if (result == 1) out["epoch"] = EpochJson(dec);
  AddNavigationJson(out, dec, type, result);
  std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void PrintJson(rtcm::RtcmDecoder& dec, std::string_view data) {
  for (const char byte : data) {
    const int result = rtcm::input_rtcm3(&dec, static_cast<uint8_t>(byte));
    if (dec.frame_decoded) PrintFrameJson(dec, result);
  }
}

void PrintCounts(const rtcm::RtcmDecoder& dec) {
  std::fprintf(stderr, "message_counts:\n");
  if (dec.message_counts[0]) std::fprintf(stderr, "other %u\n", dec.message_counts[0]);
  for (int i = 1; i < rtcm::MESSAGE_COUNTS; ++i) {
    if (dec.message_counts[i]) std::fprintf(stderr, "%d %u\n", 1000 + i, dec.message_counts[i]);
  }
}

// Feeds the whole input; false with errno set on a read error.
bool Summarize(FILE* input, const Arguments& args, rtcm::ChunkSummarizer& summarizer) {
  // Whole chunks per read, so each Feed gets exactly N bytes as the option says.
  const size_t read_size =
      args.chunk >= kReadBytes ? args.chunk : kReadBytes - kReadBytes % args.chunk;
  std::vector<char> buffer(read_size);
  Progress progress(input);
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), input)) > 0;) {
    const std::string_view data(buffer.data(), n);
    if (args.json) {
      PrintJson(summarizer.decoder(), data);
    } else {
      for (size_t at = 0; at < n; at += args.chunk) {
        std::cout << summarizer.Feed(data.substr(at, args.chunk), nullptr);
      }
    }
    progress.Add(n);
  }
  if (std::ferror(input)) return false;
  if (args.json) {
    rtcm::RtcmDecoder& dec = summarizer.decoder();
    for (;;) {
      const int result = rtcm::input_rtcm3_end(&dec);
      if (!dec.frame_decoded) break;
      PrintFrameJson(dec, result);
    }
  } else {
    std::cout << summarizer.Finish();
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  const auto parse = [&] {
    args = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    return args.answer;
  };
  if (const auto status = cli::EndBeforeRunning(kProgram.name, parse, AnswerText)) return *status;

  const bool from_stdin = args.file == "-";
  std::unique_ptr<FILE, int (*)(FILE*)> file(
      from_stdin ? stdin : std::fopen(args.file.c_str(), "rb"),
      from_stdin ? +[](FILE*) { return 0; } : &std::fclose);
  rtcm::ChunkSummarizer summarizer;
  if (!file || !Summarize(file.get(), args, summarizer)) {
    std::fprintf(stderr, "rtcm3-summary: cannot read %s: %s\n",
                 from_stdin ? "standard input" : args.file.c_str(), std::strerror(errno));
    return 1;
  }
  std::cout.flush();
  if (args.counts) PrintCounts(summarizer.decoder());
  return std::cout ? 0 : 1;
}
