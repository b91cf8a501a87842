#include "rtcm/summary.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "rtcm/frame.h"

namespace rtcm {

namespace {

// Appends what "%d" (or "%" PRId64) prints.
void AppendInteger(std::string& text, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

// Appends what "%f" prints. to_chars with a precision rounds exactly as printf does; values
// that are not finite keep printf's own spelling.
void AppendFixed6(std::string& text, double value) {
  char digits[400];  // the largest double has 309 digits before the point
  if (!std::isfinite(value)) {
    const int n = std::snprintf(digits, sizeof digits, "%f", value);
    text.append(digits, static_cast<size_t>(n));
    return;
  }
  const auto end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6).ptr;
  text.append(digits, end);
}

}  // namespace

void AppendEpochSummary(const RtcmDecoder& dec, std::string& text) {
  // Formatted piece by piece: printf's "%f" was the largest single cost of a summary.
  text += "Station id: ";
  AppendInteger(text, dec.staid);
  text += '\n';
  for (int i = 0; i < dec.obs.count; ++i) {
    const ObsRecord& record = dec.obs.records[i];
    text += "GPS satellite PRN: ";
    AppendInteger(text, record.sat);
    text += " L1: ";
    AppendFixed6(text, record.phase[0]);
    text += " L2: ";
    AppendFixed6(text, record.phase[1]);
    text += " Time: ";
    AppendInteger(text, record.time.time);
    text += '\n';
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
    const auto* data = reinterpret_cast<const uint8_t*>(chunk.data());
    size_t left = chunk.size();
    while (left > 0) {
      size_t used = 0;
      result = input_rtcm3_block(dec, data, left, &used);
      if (result == 1) AppendEpochSummary(*dec, text);
      data += used;
      left -= used;
    }
  }
  if (last_result) *last_result = result;
  return text;
}

std::string ChunkSummarizer::Finish() {
  std::string text;
  if (!_ready) return text;
  for (;;) {
    const int result = input_rtcm3_end(_decoder.get());
    if (!_decoder->frame_decoded) return text;
    if (result == 1) AppendEpochSummary(*_decoder, text);
  }
}

RtcmDecoder& ChunkSummarizer::decoder() {
  return *_decoder;
}
const RtcmDecoder& ChunkSummarizer::decoder() const {
  return *_decoder;
}

}  // namespace rtcm
