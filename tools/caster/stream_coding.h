// Compression of the served stream, as some casters send it: each write one gzip member, or one
// deflate stream flushed at every write.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "replay_caster.h"

namespace caster {

class StreamCompressor {
 public:
  explicit StreamCompressor(StreamCoding coding);
  ~StreamCompressor();
  StreamCompressor(const StreamCompressor&) = delete;
  StreamCompressor& operator=(const StreamCompressor&) = delete;

  // The coded form of one write's payload; a client that inflates what it has read so far gets
  // every payload byte written so far.
  std::string Code(std::string_view payload);

 private:
  struct Zlib;
  StreamCoding coding_;
  std::unique_ptr<Zlib> deflate_;  // DeflateFlushed: the one stream of the connection
};

// The header line that names the coding ("Transfer-Encoding: gzip, chunked\r\n" ...), or "".
std::string CodingHeader(StreamCoding coding, bool as_content, bool chunked);

}  // namespace caster
