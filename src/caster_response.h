#pragma once
// Reading and judging a caster's answer to the stream request. Pure code over bytes, no
// sockets: the client feeds it what each read returned.
#include <cstddef>
#include <string>
#include <string_view>

namespace tarno {

// Longest answer head (status line, header lines and the blank line) a caster may send.
inline constexpr std::size_t kMaxResponseHeadBytes = 16 * 1024;

struct ResponseHead {
  std::string text;         // the head as received, line ends included
  std::string status_line;  // first line without its line end
  bool success = false;     // the caster is about to send the stream
  bool ntrip1 = false;      // "ICY 200 OK": no header block, stream may follow the line directly
  bool chunked = false;     // Transfer-Encoding: chunked
};

// Judges a complete answer head (status line and header block).
// Success: "ICY 200 OK", or an HTTP/1.0 or HTTP/1.1 status 200 whose Content-Type, if any, is
// not gnss/sourcetable. Everything else (401, 404, "SOURCETABLE 200 OK", no status line) fails.
bool IsStreamStatusLine(std::string_view status_line);

// Collects the answer head across reads.
class ResponseHeadReader {
 public:
  enum class Progress { NeedMore, Complete, Failed };

  // Appends bytes. Complete: head() is judged and leftover() holds the bytes that followed the
  // head in the same reads (the stream's first bytes). Failed: failure() says why. Once
  // Complete or Failed, further calls change nothing.
  Progress Feed(std::string_view bytes);

  const ResponseHead& head() const { return _head; }
  std::string_view leftover() const { return _leftover; }
  const std::string& failure() const { return _failure; }

 private:
  Progress Finish(std::size_t head_end);
  Progress Fail(std::string reason);

  Progress _progress = Progress::NeedMore;
  std::string _buffer;
  std::size_t _status_end = 0;  // index after the status line's line end; 0 while unknown
  std::size_t _line_begin = 0;  // first header line not yet seen whole
  ResponseHead _head;
  std::string _leftover;
  std::string _failure;
};

// A status line made printable for a log line: control bytes escaped, length bounded.
std::string PrintableStatusLine(std::string_view line);

}  // namespace tarno
