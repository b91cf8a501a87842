#include "stream_body.h"

#include <algorithm>

namespace tarno {

namespace {

// Bounds that keep a hostile caster from making the client count or buffer without end.
constexpr std::size_t kMaxSizeDigits = 15;  // chunk sizes below 2^60
constexpr std::size_t kMaxSizeLine = 4096;  // size line with its extensions
constexpr std::size_t kMaxTrailerBytes = 16 * 1024;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ChunkedDecoder::Result ChunkedDecoder::Fail(std::string reason) {
  _step = Step::Malformed;
  _failure = "malformed chunked transfer: " + std::move(reason);
  return Result::Malformed;
}

ChunkedDecoder::Result ChunkedDecoder::Feed(std::string_view in, std::string& out) {
  std::size_t i = 0;
  while (i < in.size()) {
    switch (_step) {
      case Step::Size: {
        const char c = in[i];
        const int v = HexValue(c);
        if (v >= 0) {
          if (++_size_digits > kMaxSizeDigits) return Fail("chunk size too large");
          _remaining = _remaining * 16 + static_cast<unsigned>(v);
          ++_line_length;
          ++i;
        } else if (_size_digits == 0) {
          return Fail("chunk size expected");
        } else if (c == '\r') {
          _step = Step::SizeLineFeed;
          ++i;
        } else if (c == ';' || c == ' ' || c == '\t') {
          _step = Step::Extension;
        } else {
          return Fail("bad character in chunk size");
        }
        break;
      }
      case Step::Extension:
        // Extensions carry nothing the stream needs.
        if (in[i] == '\r') {
          _step = Step::SizeLineFeed;
        } else if (in[i] == '\n') {
          return Fail("line feed without carriage return in chunk size line");
        } else if (++_line_length > kMaxSizeLine) {
          return Fail("chunk size line too long");
        }
        ++i;
        break;
      case Step::SizeLineFeed:
        if (in[i++] != '\n') return Fail("chunk size line not ended by CR LF");
        _size_digits = 0;
        _line_length = 0;
        _step = _remaining == 0 ? Step::Trailer : Step::Data;
        break;
      case Step::Data: {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(_remaining, in.size() - i));
        out.append(in.substr(i, take));
        i += take;
        _remaining -= take;
        if (_remaining == 0) _step = Step::DataCr;
        break;
      }
      case Step::DataCr:
        if (in[i++] != '\r') return Fail("chunk data not followed by CR LF");
        _step = Step::DataLf;
        break;
      case Step::DataLf:
        if (in[i++] != '\n') return Fail("chunk data not followed by CR LF");
        _step = Step::Size;
        break;
      case Step::Trailer:
        // Trailer lines are skipped; an empty line ends the message.
        if (++_trailer_bytes > kMaxTrailerBytes) return Fail("trailer too long");
        if (in[i] == '\n') {
          const bool empty_line = !_trailer_line_content;
          _trailer_line_content = false;
          if (empty_line) {
            _step = Step::End;
            return Result::End;
          }
        } else if (in[i] != '\r') {
          _trailer_line_content = true;
        }
        ++i;
        break;
      case Step::End:
        return Result::End;
      case Step::Malformed:
        return Result::Malformed;
    }
  }
  if (_step == Step::End) return Result::End;
  if (_step == Step::Malformed) return Result::Malformed;
  return Result::Ok;
}

StreamBodyDecoder::StreamBodyDecoder(Framing framing, bool skip_blank_line)
    : _framing(framing), _lead(skip_blank_line ? Lead::Undecided : Lead::Done) {}

StreamBodyDecoder::Result StreamBodyDecoder::Feed(std::string_view in, std::string& out) {
  while (_lead != Lead::Done && !in.empty()) {
    if (_lead == Lead::Undecided) {
      if (in.front() != '\r') {
        _lead = Lead::Done;
        break;
      }
      _lead = Lead::SawCr;
      in.remove_prefix(1);
    } else {  // SawCr
      _lead = Lead::Done;
      if (in.front() == '\n') {
        in.remove_prefix(1);
      } else {
        // The CR was the stream's first byte after all.
        if (_framing == Framing::Plain) {
          out += '\r';
        } else {
          const Result r = _chunked.Feed("\r", out);
          if (r != Result::Ok) return r;
        }
      }
    }
  }
  if (_framing == Framing::Plain) {
    out.append(in);
    return Result::Ok;
  }
  return _chunked.Feed(in, out);
}

}  // namespace tarno
