#include "stream_body.h"

#include <algorithm>

namespace tarno {

namespace {

// Bounds that keep a hostile caster from making the client count or buffer without end.
constexpr std::size_t kMaxSizeDigits = 15;  // chunk sizes below 2^60
constexpr std::size_t kMaxSizeLine = 4096;  // size line with its extensions
constexpr std::size_t kMaxTrailerBytes = 16 * 1024;
constexpr std::size_t kMaxIcyHeaderBytes = 16 * 1024;
// A longer run of name characters is not a header name: the bytes are the stream's.
constexpr std::size_t kMaxHeaderName = 64;

bool IsTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

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
          // Leading zeros carry no value: any number of them is a valid size.
          if (_remaining != 0 || v != 0) {
            if (++_size_digits > kMaxSizeDigits) return Fail("chunk size too large");
          }
          if (++_line_length > kMaxSizeLine) return Fail("chunk size line too long");
          _remaining = _remaining * 16 + static_cast<unsigned>(v);
          ++i;
        } else if (_line_length == 0) {
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

StreamBodyDecoder::StreamBodyDecoder(Framing framing, bool icy_lead,
                                     std::optional<std::uint64_t> content_length)
    : _framing(framing),
      _lead(icy_lead ? Lead::Undecided : Lead::Done),
      _remaining(framing == Framing::Plain ? content_length : std::nullopt) {}

bool StreamBodyDecoder::TakeLead(std::string_view in, std::string& stream) {
  if (_lead == Lead::HeaderLines) return SkipHeaderLines(in, stream);
  _lead_bytes.append(in);
  const std::string_view bytes = _lead_bytes;
  if (bytes.empty()) return false;
  if (bytes[0] == '\n' || bytes[0] == '\r') {
    // A blank line (CR LF, or LF alone); a CR not followed by LF is the stream's first byte.
    if (bytes[0] == '\r' && bytes.size() < 2) return false;
    const std::size_t blank = bytes[0] == '\n' ? 1 : bytes[1] == '\n' ? 2 : 0;
    stream.assign(bytes.substr(blank));
    _lead = Lead::Done;
    return true;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == ':' && i > 0) {
      // "Name:" starts a header line: skip it and the lines after it up to a blank line.
      _lead = Lead::HeaderLines;
      _line_has_content = true;
      _lead_size = i + 1;
      const std::string rest(bytes.substr(i + 1));
      _lead_bytes.clear();
      return SkipHeaderLines(rest, stream);
    }
    if (!IsTokenChar(bytes[i]) || i >= kMaxHeaderName) {
      stream.assign(bytes);  // not a header line: all of it is stream
      _lead = Lead::Done;
      return true;
    }
  }
  return false;
}

bool StreamBodyDecoder::SkipHeaderLines(std::string_view in, std::string& stream) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (++_lead_size > kMaxIcyHeaderBytes) {
      _failure = "header lines after ICY 200 OK longer than " + std::to_string(kMaxIcyHeaderBytes) +
                 " bytes";
      return false;
    }
    const char c = in[i];
    if (c == '\n') {
      if (!_line_has_content) {
        stream.assign(in.substr(i + 1));
        _lead = Lead::Done;
        return true;
      }
      _line_has_content = false;
    } else if (c != '\r') {
      _line_has_content = true;
    }
  }
  return false;
}

StreamBodyDecoder::Result StreamBodyDecoder::Pass(std::string_view in, std::string& out) {
  if (_framing == Framing::Chunked) return _chunked.Feed(in, out);
  if (!_remaining) {
    out.append(in);
    return Result::Ok;
  }
  const std::size_t take =
      static_cast<std::size_t>(std::min<std::uint64_t>(*_remaining, in.size()));
  out.append(in.substr(0, take));
  *_remaining -= take;
  return *_remaining == 0 ? Result::End : Result::Ok;
}

StreamBodyDecoder::Result StreamBodyDecoder::Feed(std::string_view in, std::string& out) {
  if (!_failure.empty()) return Result::Malformed;
  if (_lead == Lead::Done) return Pass(in, out);
  std::string stream;
  if (!TakeLead(in, stream)) return _failure.empty() ? Result::Ok : Result::Malformed;
  _lead_bytes.clear();
  _lead_bytes.shrink_to_fit();
  return Pass(stream, out);
}

}  // namespace tarno
