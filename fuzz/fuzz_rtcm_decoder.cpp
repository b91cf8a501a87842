// Arbitrary bytes through the RTCM 3 decoder: byte by byte on one decoder, and through the
// chunk summarizer fed whole and cut into chunks. The three must agree on every result, and
// the summary text must read as printf would format it.
//
// Input layout (missing bytes read as zero):
//   [0]     flags: 1 describe_messages, 2 options from the token mask, 4 free option text,
//           8 repair the CRC of every whole frame before decoding (lets mutations reach the
//           message decoders instead of dying at the CRC check)
//   [1..2]  token mask, one bit per entry of kOptionTokens
//   [3..6]  pinned clock: seconds after 2000-01-01 UTC (modulo 40 years), little endian
//   [7]     chunk size table length (low 4 bits), then that many size bytes
//   if flag 4: one length byte, then that much option text
//   rest    the stream
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/summary.h"

namespace {

using fuzzing::FuzzInput;

constexpr const char* kOptionTokens[16] = {
    "-EPHALL", "-STA=5", "-STA=0", "-GL1P", "-GL2X", "-RL2C", "-RL1P",   "-EL1X",
    "-EL5Q",   "-JL1C",  "-JL2L",  "-SL1C", "-CL2I", "-CL7I", "-RT_INP", "-GL2W"};

struct Config {
  bool describe = false;
  bool repair = false;
  std::string options;
  rtcm::GnssTime now;
  std::vector<uint8_t> chunk_sizes;
};

Config ReadConfig(FuzzInput& in) {
  Config config;
  const uint8_t flags = in.Byte();
  config.describe = (flags & 1) != 0;
  config.repair = (flags & 8) != 0;
  const uint32_t mask = in.Byte() | (static_cast<uint32_t>(in.Byte()) << 8);
  if (flags & 2) {
    for (int i = 0; i < 16; ++i) {
      if (mask & (1u << i)) {
        if (!config.options.empty()) config.options += ' ';
        config.options += kOptionTokens[i];
      }
    }
  }
  constexpr int64_t kYear2000 = 946684800;
  constexpr uint32_t kSpan = 40u * 365u * 86400u;
  config.now.time = kYear2000 + static_cast<int64_t>(in.Word32() % kSpan);
  config.chunk_sizes = fuzzing::ReadSizeTable(in);
  if (flags & 4) {
    const std::string_view text = in.Text(in.Byte());
    if (!config.options.empty()) config.options += ' ';
    config.options.append(text);
  }
  // The decoder's option field holds 255 characters and a terminator.
  if (config.options.size() > 255) config.options.resize(255);
  config.options.erase(std::find(config.options.begin(), config.options.end(), '\0'),
                       config.options.end());
  return config;
}

// Writes the right CRC into every whole frame the stream holds, walking it the way a reader
// that trusts the length field would.
void RepairFrames(std::string& stream) {
  auto* bytes = reinterpret_cast<uint8_t*>(stream.data());
  const std::size_t n = stream.size();
  std::size_t i = 0;
  while (i + 3 <= n) {
    if (bytes[i] != 0xD3) {
      ++i;
      continue;
    }
    const std::size_t len = ((bytes[i + 1] & 3u) << 8) | bytes[i + 2];
    if (i + 3 + len + 3 > n) break;
    const uint32_t crc = rtcm::frame_crc24(bytes + i, static_cast<int>(3 + len));
    bytes[i + 3 + len] = static_cast<uint8_t>(crc >> 16);
    bytes[i + 3 + len + 1] = static_cast<uint8_t>(crc >> 8);
    bytes[i + 3 + len + 2] = static_cast<uint8_t>(crc);
    i += 3 + len + 3;
  }
}

void Configure(rtcm::RtcmDecoder& dec, const Config& config) {
  dec.describe_messages = config.describe ? 1 : 0;
  std::memset(dec.options, 0, sizeof dec.options);
  std::memcpy(dec.options, config.options.data(), config.options.size());
}

// Texts the decoder keeps in fixed arrays must stay terminated inside them.
void CheckState(const rtcm::RtcmDecoder& dec) {
  FUZZ_CHECK(dec.obs.count >= 0 && dec.obs.count <= rtcm::MAX_OBS);
  FUZZ_CHECK(dec.len >= 0 && dec.len <= rtcm::FRAME_MAX);
  FUZZ_CHECK(dec.frame_bytes >= 0 && dec.frame_bytes <= rtcm::FRAME_MAX);
  FUZZ_CHECK(strnlen(dec.description, sizeof dec.description) < sizeof dec.description);
  for (const auto& row : dec.msm_signals) FUZZ_CHECK(strnlen(row, sizeof row) < sizeof row);
  const rtcm::StationInfo& s = dec.station;
  for (const char* text : {s.antenna_descriptor, s.antenna_serial, s.receiver_type,
                           s.receiver_version, s.receiver_serial}) {
    FUZZ_CHECK(strnlen(text, rtcm::TEXT_MAX) < static_cast<std::size_t>(rtcm::TEXT_MAX));
  }
}

// The summary block of one epoch as printf formats it: the reference for the summary text.
void AppendReferenceSummary(const rtcm::RtcmDecoder& dec, std::string& text) {
  char line[1024];  // "%f" of a huge phase runs to 300+ digits, and a line holds two
  std::snprintf(line, sizeof line, "Station id: %d\n", dec.staid);
  text += line;
  for (int i = 0; i < dec.obs.count; ++i) {
    const rtcm::ObsRecord& record = dec.obs.records[i];
    std::snprintf(line, sizeof line, "GPS satellite PRN: %d L1: %f L2: %f Time: %" PRId64 "\n",
                  static_cast<int>(record.sat), record.phase[0], record.phase[1], record.time.time);
    text += line;
  }
}

struct DecoderDeleter {
  void operator()(rtcm::RtcmDecoder* dec) const {
    rtcm::free_rtcm(dec);
    delete dec;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const Config config = ReadConfig(in);
  std::string stream(in.Rest());
  if (config.repair) RepairFrames(stream);

  const rtcm::GnssTime now = config.now;
  const rtcm::UtcClock clock = [now] { return now; };

  // Byte by byte on one decoder; the summary built the way the summarizer builds it.
  std::unique_ptr<rtcm::RtcmDecoder, DecoderDeleter> dec(new rtcm::RtcmDecoder);
  dec->utc_clock = clock;
  if (rtcm::init_rtcm(dec.get()) != 1) return 0;
  Configure(*dec, config);
  std::string byte_text;
  std::string reference_text;
  std::vector<int> results;
  results.reserve(stream.size());
  for (const char c : stream) {
    const int result = rtcm::input_rtcm3(dec.get(), static_cast<uint8_t>(c));
    FUZZ_CHECK(result >= -1 && result <= 10);
    results.push_back(result);
    if (result == 1) {
      rtcm::AppendEpochSummary(*dec, byte_text);
      AppendReferenceSummary(*dec, reference_text);
    }
    if (result != 0) CheckState(*dec);
  }
  CheckState(*dec);
  FUZZ_CHECK(byte_text == reference_text);

  // The whole stream as one chunk.
  rtcm::ChunkSummarizer whole(clock);
  Configure(whole.decoder(), config);
  int whole_last = 0;
  const std::string whole_text = whole.Feed(stream, &whole_last);
  FUZZ_CHECK(whole_text == byte_text);
  FUZZ_CHECK(whole_last == (results.empty() ? 0 : results.back()));

  // The same stream cut into chunks: same text, same last result per chunk.
  rtcm::ChunkSummarizer cut(clock);
  Configure(cut.decoder(), config);
  std::string cut_text;
  std::size_t fed = 0;
  fuzzing::ForEachPiece(stream, config.chunk_sizes, [&](std::string_view piece) {
    int last = 0;
    cut_text += cut.Feed(piece, &last);
    fed += piece.size();
    FUZZ_CHECK(last == (piece.empty() ? 0 : results[fed - 1]));
  });
  FUZZ_CHECK(fed == stream.size());
  FUZZ_CHECK(cut_text == whole_text);
  FUZZ_CHECK(std::memcmp(cut.decoder().message_counts, dec->message_counts,
                         sizeof dec->message_counts) == 0);
  return 0;
}
