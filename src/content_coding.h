#pragma once
// Undoes the codings a caster may put on the stream (gzip, x-gzip, deflate, and chunked when it
// is not the framing), as each read comes: nothing waits for the end of the stream. Pure, bytes
// in and bytes out, like the framing decoder it follows.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "caster_response.h"
#include "stream_body.h"

namespace tarno {

enum class Coding { Chunked, Gzip, Deflate };

// The coding a Transfer-Encoding or Content-Encoding token names (lower case, as the head reader
// keeps them); nullopt for one this client cannot undo.
std::optional<Coding> CodingNamed(std::string_view name);

// The first coding of an answer head that this client cannot undo, or empty when it reads them
// all ("identity" is none).
std::string UnknownCoding(const ResponseHead& head);

// Inflates a gzip stream (any number of members, one after the other) or a deflate stream (the
// zlib format, or the raw one some servers send), returning what each piece of input gives.
class InflateDecoder {
 public:
  using Result = ChunkedDecoder::Result;

  explicit InflateDecoder(Coding coding);  // Gzip or Deflate
  ~InflateDecoder();
  InflateDecoder(InflateDecoder&&) noexcept;
  InflateDecoder& operator=(InflateDecoder&&) noexcept;

  // End: a deflate stream ended (bytes after it are ignored). Malformed: failure() says why;
  // further calls keep returning Malformed.
  Result Feed(std::string_view in, std::string& out);
  const std::string& failure() const { return _failure; }

 private:
  struct Zlib;
  Result Fail(std::string reason);
  bool Start(int window_bits);

  Coding _coding;
  std::unique_ptr<Zlib> _zlib;
  std::string _held;  // deflate: first bytes kept until they tell the zlib format from raw
  bool _ended = false;
  std::string _failure;
};

// Everything between the bytes read after the head and the stream itself: the framing (chunked,
// a length, the ICY lead), then the codings, undone in the reverse of the order they were put on.
class StreamDecoder {
 public:
  using Result = ChunkedDecoder::Result;

  // `head` is a stream's, and UnknownCoding(head) is empty.
  explicit StreamDecoder(const ResponseHead& head);

  Result Feed(std::string_view in, std::string& out);
  const std::string& failure() const { return _failure; }

 private:
  using Stage = std::variant<ChunkedDecoder, InflateDecoder>;
  StreamBodyDecoder _body;
  std::vector<Stage> _stages;  // in decoding order
  std::string _failure;
  bool _ended = false;
};

}  // namespace tarno
