#include "caster_response.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <boost/asio/error.hpp>

#include "link_events.h"

namespace tarno {

namespace {

constexpr std::size_t kMaxCodings = 4;
constexpr std::string_view kNotOnCaster = " is not on this caster";
constexpr std::string_view kAnsweredSourcetable = "; it answered with its sourcetable";

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

// Appends the codings of a Transfer-Encoding or Content-Encoding value: "gzip, chunked".
void AppendCodings(std::string_view value, std::vector<std::string>& codings) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view token = value.substr(0, comma);
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    if (const std::size_t semicolon = token.find(';'); semicolon != std::string_view::npos) {
      token = token.substr(0, semicolon);
    }
    std::string name(Trim(token));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty() && name != "identity") codings.push_back(std::move(name));
  }
}

// The media type alone, in lower case: "Text/HTML; charset=x" -> "text/html".
std::string MediaType(std::string_view value) {
  const std::size_t semicolon = value.find(';');
  if (semicolon != std::string_view::npos) value = value.substr(0, semicolon);
  std::string type(Trim(value));
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

std::optional<std::uint64_t> DecimalLength(std::string_view value) {
  value = Trim(value);
  if (value.empty() || value.size() > 18) return std::nullopt;
  std::uint64_t n = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

int StatusCode(std::string_view line) {
  if (IsIcyOk(line)) return 200;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  const std::string_view code = line.substr(space + 1, 3);
  if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
  int value = 0;
  for (const char c : code) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Answers whose header block is read before they are judged.
bool HasHeaderBlock(std::string_view line) {
  return line.substr(0, 5) == "HTTP/" || line.substr(0, 12) == "SOURCETABLE ";
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
    _head.status = StatusCode(_head.status_line);
    _head.sourcetable = _head.status_line.starts_with("SOURCETABLE ");
    // An NTRIP 1.0 caster may wait for a sentence before it sends anything more: the ICY line
    // alone is the answer (what may follow it is left to the stream decoder).
    if (!HasHeaderBlock(_head.status_line)) {
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
      std::size_t h = _status_end;
      while (h < begin) {
        const std::size_t e = LineEnd(_buffer, h);
        const std::string_view header = LineContent(_buffer, h, e);
        const std::size_t colon = header.find(':');
        if (colon != std::string_view::npos) {
          const std::string_view name = Trim(header.substr(0, colon));
          const std::string_view value = header.substr(colon + 1);
          if (EqualsNoCase(name, "Content-Type")) {
            _head.content_type = MediaType(value);
          } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            AppendCodings(value, _head.transfer_codings);
          } else if (EqualsNoCase(name, "Content-Encoding")) {
            AppendCodings(value, _head.content_codings);
          } else if (EqualsNoCase(name, "Content-Length")) {
            const auto length = DecimalLength(value);
            // Two different lengths, or one that is no number: where the stream ends is unknown.
            if (!length || (_head.content_length && *_head.content_length != *length)) {
              return Fail("malformed Content-Length: " + PrintableStatusLine(Trim(value)));
            }
            _head.content_length = length;
          } else if (EqualsNoCase(name, "Location")) {
            _head.location = std::string(Trim(value));
          }
        }
        h = e;
      }
      if (_head.content_type == "gnss/sourcetable") _head.sourcetable = true;
      // Each coding costs a decompressor: a hostile list must not make thousands.
      if (_head.transfer_codings.size() + _head.content_codings.size() > kMaxCodings) {
        return Fail("more than " + std::to_string(kMaxCodings) + " codings");
      }
      // The last transfer coding decides the framing.
      _head.chunked =
          !_head.transfer_codings.empty() && _head.transfer_codings.back() == "chunked";
      _head.success = IsHttpOk(_head.status_line) && !_head.sourcetable &&
                      !_head.content_type.starts_with("text/");
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

Refusal JudgeAnswer(const ResponseHead& head, std::string_view host, std::string_view port,
                    std::string_view mountpoint) {
  const std::string status = PrintableStatusLine(head.status_line);
  const std::string mount(mountpoint);
  const std::string caster = Endpoint(host, port);
  if (head.status == 401 || head.status == 403) {
    return {Refusal::Kind::Credentials,
            "caster refused the user name or password for " + mount + " (" + status + ")"};
  }
  if (head.status == 404 || head.sourcetable) {
    return {Refusal::Kind::UnknownMount,
            "mount point " + mount + std::string(kNotOnCaster) +
                (head.sourcetable ? std::string(kAnsweredSourcetable) : std::string())};
  }
  if (head.status >= 300 && head.status < 400) {
    const std::string where = head.location.empty() ? std::string("elsewhere without saying where")
                                                    : "to " + PrintableStatusLine(head.location);
    return {Refusal::Kind::Redirect, "caster redirects " + mount + " " + where + " (" + status +
                                         "): check ip, port and mountpoint"};
  }
  if (head.status == 200 && !head.content_type.empty()) {
    return {Refusal::Kind::NotAStream, caster + " answered " + mount + " with Content-Type " +
                                           PrintableStatusLine(head.content_type) +
                                           ", not a correction stream (" + status +
                                           "): check ip and port"};
  }
  return {Refusal::Kind::Answer, caster + " answered " + mount + " with \"" + status +
                                     "\", not a correction stream: check ip and port"};
}

Refusal Ntrip2Refused(int status, std::string_view host, std::string_view port,
                      std::string_view mountpoint) {
  return {Refusal::Kind::Answer, Endpoint(host, port) + " refused the NTRIP 2.0 request for " +
                                     std::string(mountpoint) + " (status " +
                                     std::to_string(status) +
                                     "): the caster may speak NTRIP 1.0 alone; try "
                                     "ntrip_version=auto or 1.0"};
}

Refusal NoUsableAnswer(std::string_view host, std::string_view port, std::string_view mountpoint,
                       std::string_view what) {
  return {Refusal::Kind::Answer, Endpoint(host, port) +
                                     " gave no usable answer for " + std::string(mountpoint) +
                                     " (" + std::string(what) + "): check ip and port"};
}

Refusal UnreadableCoding(std::string_view host, std::string_view port, std::string_view mountpoint,
                         std::string_view coding) {
  return {Refusal::Kind::Answer,
          Endpoint(host, port) + " sent " + std::string(mountpoint) +
              " in the coding \"" + PrintableStatusLine(coding) +
              "\", which this client cannot read (it reads gzip, x-gzip, deflate and chunked)"};
}

std::string BodyMismatch(const ResponseHead& head, std::string_view failure) {
  std::string codings;
  for (const auto* list : {&head.transfer_codings, &head.content_codings}) {
    for (const std::string& coding : *list) {
      codings += (codings.empty() ? "" : ", ") + PrintableStatusLine(coding);
    }
  }
  return "the caster's body does not match the framing and codings it named (" +
         (codings.empty() ? std::string("none") : codings) + "): " + std::string(failure);
}

Refusal BodyNotAsNamed(const ResponseHead& head, std::string_view host, std::string_view port,
                       std::string_view failure) {
  return {Refusal::Kind::Answer, Endpoint(host, port) + ": " + BodyMismatch(head, failure)};
}

Refusal ShortConnection(std::string_view mountpoint, std::uint64_t bytes) {
  return {Refusal::Kind::Answer, "the caster closed " + std::string(mountpoint) + " after " +
                                     std::to_string(bytes) + " bytes"};
}

Refusal NoRtcmFrame(std::string_view mountpoint, std::uint64_t bytes, std::string_view kind) {
  return {Refusal::Kind::NotAStream, NotRtcmEvent(mountpoint, bytes, kind)};
}

Refusal NetworkRefusal(const boost::system::error_code& error, std::string_view host,
                       std::string_view port) {
  const std::string caster = Endpoint(host, port);
  if (error == boost::asio::error::connection_refused) {
    return {
        Refusal::Kind::Network,
        "connection to " + caster + " refused: nothing listens on that port; check ip and port"};
  }
  if (error == boost::asio::error::timed_out) {
    return {Refusal::Kind::Network,
            "no answer from " + caster + " in time (timed out): check ip, port and the network"};
  }
  return {Refusal::Kind::Network,
          "connection to " + caster + " failed: " + error.message() + "; check ip and port"};
}

Refusal UnresolvedHost(std::string_view host, std::string_view description) {
  return {Refusal::Kind::Network, "caster name " + std::string(host) + " does not resolve (" +
                                      std::string(description) + "): check ip"};
}

Refusal TlsRefusal(std::string_view host, std::string_view failure) {
  return {Refusal::Kind::Network,
          "TLS verification of " + std::string(host) + " failed: " + std::string(failure)};
}

Refusal JudgeSourcetableAnswer(const ResponseHead& head, std::string_view host,
                               std::string_view port) {
  // NTRIP 1.0 casters answer "SOURCETABLE 200 OK"; NTRIP 2.0 ones an HTTP 200.
  const std::string_view line = head.status_line;
  if (head.status == 200 && (line.starts_with("SOURCETABLE ") || line.starts_with("HTTP/1.1 ") ||
                             line.starts_with("HTTP/1.0 "))) {
    return {};
  }
  if (head.status == 401 || head.status == 403) {
    return JudgeAnswer(head, host, port, kSourcetableSubject);
  }
  return {Refusal::Kind::Answer, Endpoint(host, port) + " answered " +
                                     std::string(kSourcetableSubject) + " request with \"" +
                                     PrintableStatusLine(head.status_line) +
                                     "\": check ip and port"};
}

Refusal WithMountPoints(Refusal refusal, std::string_view mountpoint,
                        const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 10;
  if (names.empty()) return refusal;
  if (std::find(names.begin(), names.end(), mountpoint) != names.end()) {
    const bool sourcetable = refusal.text.ends_with(kAnsweredSourcetable);
    refusal.text = PrintableStatusLine(mountpoint) +
                   " is listed by the caster but not streaming now" +
                   (sourcetable ? std::string(kAnsweredSourcetable) : std::string());
    return refusal;
  }
  refusal.text += "; its mount points, nearest first: ";
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
    refusal.text += (i == 0 ? "" : ", ") + PrintableStatusLine(names[i]);
  }
  if (names.size() > kShown) refusal.text += " (" + std::to_string(names.size()) + " in all)";
  return refusal;
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
