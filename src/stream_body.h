#pragma once
// Turns the bytes that follow a caster's answer head into the stream's own bytes: removes the
// chunked transfer framing, or the blank line an NTRIP 1.0 caster may put after its status line.
// Incremental and pure: a chunk boundary may fall anywhere between two reads.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarno {

class ChunkedDecoder {
 public:
  enum class Result { Ok, End, Malformed };

  // Appends the payload bytes found in `in` to `out`. End: the last chunk and the trailer have
  // been read (bytes after them are ignored). Malformed: failure() says why; further calls
  // keep returning Malformed.
  Result Feed(std::string_view in, std::string& out);
  const std::string& failure() const { return _failure; }

 private:
  enum class Step { Size, Extension, SizeLineFeed, Data, DataCr, DataLf, Trailer, End, Malformed };
  Result Fail(std::string reason);

  Step _step = Step::Size;
  std::uint64_t _remaining = 0;    // payload bytes left in the current chunk
  std::size_t _size_digits = 0;    // hex digits read in the current size line
  std::size_t _line_length = 0;    // bytes of the current size or trailer line
  std::size_t _trailer_bytes = 0;  // all trailer bytes so far
  bool _trailer_line_content = false;
  std::string _failure;
};

class StreamBodyDecoder {
 public:
  enum class Framing { Plain, Chunked };
  using Result = ChunkedDecoder::Result;

  // skip_blank_line: drop a CR LF that comes first (NTRIP 1.0 casters may or may not send it).
  StreamBodyDecoder(Framing framing, bool skip_blank_line);

  Result Feed(std::string_view in, std::string& out);
  const std::string& failure() const { return _chunked.failure(); }

 private:
  Framing _framing;
  enum class Lead { Undecided, SawCr, Done } _lead;
  ChunkedDecoder _chunked;
};

}  // namespace tarno
