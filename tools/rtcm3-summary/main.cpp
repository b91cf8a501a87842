// rtcm3-summary FILE [--chunk N] [--json] [--counts]
//   default   the summary text of the recording, fed to one decoder in reads of N bytes
//   --json    one JSON object per line for each frame with a right CRC
//   --counts  the decoder's message counts on stderr at the end
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "json_nav.h"
#include "json_obs.h"
#include "rtcm/frame.h"
#include "rtcm/summary.h"

namespace {

struct Arguments {
  std::string file;
  size_t chunk = 2048;
  bool json = false;
  bool counts = false;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "rtcm3-summary: %s\nusage: rtcm3-summary FILE [--chunk N] [--json] [--counts]\n",
               why);
  return 2;
}

bool ParseChunk(const char* text, size_t* chunk) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value == 0 || text[0] == '-') return false;
  *chunk = static_cast<size_t>(value);
  return true;
}

// Whole file into *data; false with errno set when it cannot be opened or read (a directory,
// a file without read permission, an I/O error).
bool ReadWholeFile(const std::string& path, std::string* data) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return false;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
    data->append(buffer, n);
  return !std::ferror(file.get());
}

bool CrcIsRight(const rtcm::RtcmDecoder& dec) {
  return rtcm::frame_crc24(dec.frame, dec.len) == rtcm::bits_unsigned(dec.frame, dec.len * 8, 24);
}

void PrintJson(rtcm::RtcmDecoder& dec, const std::string& data) {
  for (const char byte : data) {
    const bool collecting = dec.frame_bytes > 0;
    const int result = rtcm::input_rtcm3(&dec, static_cast<uint8_t>(byte));
    if (!collecting || dec.frame_bytes != 0 || !CrcIsRight(dec)) continue;
    const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
    nlohmann::json out{{"type", type}, {"length", dec.len - 3}, {"result", result}};
    if (result == 5) out["station"] = StationJson(dec.station);
    if (result == 1) out["epoch"] = EpochJson(dec);
    AddNavigationJson(out, dec, type, result);
    std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }
}

void PrintCounts(const rtcm::RtcmDecoder& dec) {
  std::fprintf(stderr, "message_counts:\n");
  if (dec.message_counts[0]) std::fprintf(stderr, "other %u\n", dec.message_counts[0]);
  for (int i = 1; i < rtcm::MESSAGE_COUNTS; ++i) {
    if (dec.message_counts[i]) std::fprintf(stderr, "%d %u\n", 1000 + i, dec.message_counts[i]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      args.json = true;
    } else if (arg == "--counts") {
      args.counts = true;
    } else if (arg == "--chunk") {
      if (i + 1 >= argc || !ParseChunk(argv[++i], &args.chunk)) {
        return Usage("--chunk needs a positive number of bytes");
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (args.file.empty()) {
      args.file = arg;
    } else {
      return Usage("only one FILE may be given");
    }
  }
  if (args.file.empty()) return Usage("no FILE given");

  std::string data;
  if (!ReadWholeFile(args.file, &data)) {
    std::fprintf(stderr, "rtcm3-summary: cannot read %s: %s\n", args.file.c_str(),
                 std::strerror(errno));
    return 1;
  }

  rtcm::ChunkSummarizer summarizer;
  if (args.json) {
    PrintJson(summarizer.decoder(), data);
  } else {
    for (size_t at = 0; at < data.size(); at += args.chunk) {
      std::cout << summarizer.Feed(std::string_view(data).substr(at, args.chunk), nullptr);
    }
  }
  std::cout.flush();
  if (args.counts) PrintCounts(summarizer.decoder());
  return std::cout ? 0 : 1;
}
