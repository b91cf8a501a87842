#include "caster_response.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tarno {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "HTTP/1.0 200 ..." or "HTTP/1.1 200 ...".
bool IsHttpOk(std::string_view line) {
  if (line.substr(0, 9) != "HTTP/1.0 " && line.substr(0, 9) != "HTTP/1.1 ") return false;
  std::string_view rest = line.substr(9);
  return rest.substr(0, 3) == "200" && (rest.size() == 3 || rest[3] == ' ');
}

bool IsIcyOk(std::string_view line) {
  return Trim(line) == "ICY 200 OK";
}

// The last coding of a Transfer-Encoding list decides the framing.
bool IsChunkedCoding(std::string_view value) {
  const std::size_t comma = value.rfind(',');
  if (comma != std::string_view::npos) value = value.substr(comma + 1);
  return EqualsNoCase(Trim(value), "chunked");
}

bool IsSourcetableType(std::string_view value) {
  const std::size_t semicolon = value.find(';');
  if (semicolon != std::string_view::npos) value = value.substr(0, semicolon);
  return EqualsNoCase(Trim(value), "gnss/sourcetable");
}

// Index just after the line that starts at `from`, or npos while the line is incomplete.
std::size_t LineEnd(std::string_view text, std::size_t from) {
  const std::size_t lf = text.find('\n', from);
  return lf == std::string_view::npos ? lf : lf + 1;
}

std::string_view LineContent(std::string_view text, std::size_t begin, std::size_t end) {
  std::string_view line = text.substr(begin, end - begin);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

bool IsStreamStatusLine(std::string_view status_line) {
  return IsIcyOk(status_line) || IsHttpOk(status_line);
}

ResponseHeadReader::Progress ResponseHeadReader::Feed(std::string_view bytes) {
  if (_progress != Progress::NeedMore) return _progress;
  _buffer.append(bytes);

  if (_status_end == 0) {
    const std::size_t end = LineEnd(_buffer, 0);
    if (end == std::string_view::npos || end > kMaxResponseHeadBytes) {
      if (_buffer.size() >= kMaxResponseHeadBytes) {
        return Fail("response headers longer than " + std::to_string(kMaxResponseHeadBytes) +
                    " bytes");
      }
      return Progress::NeedMore;
    }
    _status_end = end;
    _head.status_line = std::string(LineContent(_buffer, 0, end));
    // Only an HTTP 200 needs its header block read before it can be judged.
    if (!IsHttpOk(_head.status_line)) {
      _head.ntrip1 = IsIcyOk(_head.status_line);
      _head.success = _head.ntrip1;
      return Finish(end);
    }
    _line_begin = end;
  }

  // Walk the header lines until the blank one.
  std::size_t begin = _line_begin;
  while (true) {
    const std::size_t end = LineEnd(_buffer, begin);
    if (end == std::string_view::npos || end > kMaxResponseHeadBytes) {
      if (_buffer.size() >= kMaxResponseHeadBytes) {
        return Fail("response headers longer than " + std::to_string(kMaxResponseHeadBytes) +
                    " bytes");
      }
      _line_begin = begin;
      return Progress::NeedMore;
    }
    const std::string_view line = LineContent(_buffer, begin, end);
    if (line.empty()) {
      _head.success = true;
      std::size_t h = _status_end;
      while (h < begin) {
        const std::size_t e = LineEnd(_buffer, h);
        const std::string_view header = LineContent(_buffer, h, e);
        const std::size_t colon = header.find(':');
        if (colon != std::string_view::npos) {
          const std::string_view name = Trim(header.substr(0, colon));
          const std::string_view value = header.substr(colon + 1);
          if (EqualsNoCase(name, "Content-Type") && IsSourcetableType(value)) {
            _head.success = false;
          }
          if (EqualsNoCase(name, "Transfer-Encoding") && IsChunkedCoding(value)) {
            _head.chunked = true;
          }
        }
        h = e;
      }
      return Finish(end);
    }
    begin = end;
  }
}

ResponseHeadReader::Progress ResponseHeadReader::Finish(std::size_t head_end) {
  _head.text = _buffer.substr(0, head_end);
  _leftover = _buffer.substr(head_end);
  _buffer.clear();
  _buffer.shrink_to_fit();
  return _progress = Progress::Complete;
}

ResponseHeadReader::Progress ResponseHeadReader::Fail(std::string reason) {
  _failure = std::move(reason);
  _buffer.clear();
  return _progress = Progress::Failed;
}

std::string PrintableStatusLine(std::string_view line) {
  constexpr std::size_t kMaxShown = 200;
  std::string out;
  for (const char c : line.substr(0, kMaxShown)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    }
  }
  if (line.size() > kMaxShown) out += "...";
  return out;
}

}  // namespace tarno
