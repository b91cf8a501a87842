#include "rtcm/summary.h"

#include <cinttypes>
#include <cstdio>

#include "rtcm/frame.h"

namespace rtcm {

void AppendEpochSummary(const RtcmDecoder& dec, std::string& text) {
  char line[160];
  std::snprintf(line, sizeof line, "Station id: %d\n", dec.staid);
  text += line;
  for (int i = 0; i < dec.obs.count; ++i) {
    const ObsRecord& record = dec.obs.records[i];
    std::snprintf(line, sizeof line, "GPS satellite PRN: %d L1: %f L2: %f Time: %" PRId64 "\n",
                  static_cast<int>(record.sat), record.phase[0], record.phase[1], record.time.time);
    text += line;
  }
}

ChunkSummarizer::ChunkSummarizer() : ChunkSummarizer(UtcClock{}) {}

ChunkSummarizer::ChunkSummarizer(UtcClock clock) : _decoder(std::make_unique<RtcmDecoder>()) {
  _decoder->utc_clock = std::move(clock);
  _ready = init_rtcm(_decoder.get()) == 1;
}

ChunkSummarizer::~ChunkSummarizer() {
  free_rtcm(_decoder.get());
}

std::string ChunkSummarizer::Feed(std::string_view chunk, int* last_result) {
  std::string text;
  int result = 0;
  if (_ready) {
    RtcmDecoder* dec = _decoder.get();
    for (const char byte : chunk) {
      result = input_rtcm3(dec, static_cast<uint8_t>(byte));
      if (result == 1) AppendEpochSummary(*dec, text);
    }
  }
  if (last_result) *last_result = result;
  return text;
}

RtcmDecoder& ChunkSummarizer::decoder() {
  return *_decoder;
}
const RtcmDecoder& ChunkSummarizer::decoder() const {
  return *_decoder;
}

std::string SummarizeOneChunk(std::string_view chunk, int* last_result) {
  ChunkSummarizer summarizer;
  return summarizer.Feed(chunk, last_result);
}

}  // namespace rtcm
