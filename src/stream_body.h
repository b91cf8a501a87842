#pragma once
// Turns the bytes that follow a caster's answer head into the stream's own bytes: removes the
// chunked transfer framing, ends a stream of a given length, and drops what an NTRIP 1.0 caster
// may put after its status line (a blank line, or header lines and a blank line).
// Incremental and pure: a chunk boundary may fall anywhere between two reads.
#include <cstdint>
#include <optional>
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
  std::size_t _size_digits = 0;    // hex digits of the current size, leading zeros not counted
  std::size_t _line_length = 0;    // bytes of the current size or trailer line
  std::size_t _trailer_bytes = 0;  // all trailer bytes so far
  bool _trailer_line_content = false;
  std::string _failure;
};

class StreamBodyDecoder {
 public:
  enum class Framing { Plain, Chunked };
  using Result = ChunkedDecoder::Result;

  // icy_lead: what an NTRIP 1.0 caster may put between "ICY 200 OK" and the stream is dropped:
  // a blank line, or header lines ("Name: value") up to a blank line. Anything else is the
  // stream's first bytes. content_length (Plain only): the stream ends after that many bytes.
  StreamBodyDecoder(Framing framing, bool icy_lead,
                    std::optional<std::uint64_t> content_length = std::nullopt);

  Result Feed(std::string_view in, std::string& out);
  const std::string& failure() const { return _failure.empty() ? _chunked.failure() : _failure; }

 private:
  // Reads the bytes after the ICY line; true once the lead is over, with the stream bytes that
  // follow it in `stream`. False: more bytes are needed, or _failure says why not.
  bool TakeLead(std::string_view in, std::string& stream);
  bool SkipHeaderLines(std::string_view in, std::string& stream);
  Result Pass(std::string_view in, std::string& out);

  Framing _framing;
  enum class Lead { Undecided, HeaderLines, Done } _lead;
  std::string _lead_bytes;     // bytes held while undecided
  std::size_t _lead_size = 0;  // header bytes skipped so far
  bool _line_has_content = false;
  std::optional<std::uint64_t> _remaining;  // Content-Length left
  ChunkedDecoder _chunked;
  std::string _failure;
};

}  // namespace tarno
