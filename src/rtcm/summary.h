#pragma once
// The text summary of completed observation epochs, fed chunk by chunk.
#include <memory>
#include <string>
#include <string_view>

#include "rtcm/decoder.h"

namespace rtcm {

// One decoder for the life of one connection: a frame or an epoch split between two chunks is
// completed by the later chunk, and its block appears in that chunk's summary. The text of a
// stream therefore does not depend on how the stream is cut into chunks.
class ChunkSummarizer {
 public:
  ChunkSummarizer();                         // init_rtcm
  explicit ChunkSummarizer(UtcClock clock);  // same, with a pinned "now" (tests)
  ~ChunkSummarizer();                        // free_rtcm
  ChunkSummarizer(const ChunkSummarizer&) = delete;
  ChunkSummarizer& operator=(const ChunkSummarizer&) = delete;

  // Feeds one received chunk; returns the summary text of the epochs its bytes complete.
  // *last_result (when given) = result of input_rtcm3 for the chunk's last byte, 0 when empty.
  std::string Feed(std::string_view chunk, int* last_result);
  // End of the input (a file): the text of epochs still held behind a false preamble.
  std::string Finish();
  RtcmDecoder& decoder();
  const RtcmDecoder& decoder() const;

 private:
  std::unique_ptr<RtcmDecoder> _decoder;  // tens of kB: never on the caller's stack
  bool _ready = false;                    // init_rtcm succeeded; otherwise Feed gives ""
};

// The block of one completed epoch: "Station id: " line and one line per record.
void AppendEpochSummary(const RtcmDecoder& dec, std::string& text);

}  // namespace rtcm
