#pragma once
// Reading and judging a caster's answer to the stream request or the sourcetable request. Pure
// code over bytes, no sockets: the exchange feeds it what each read returned.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/system/error_code.hpp>

namespace tarno {

// Longest answer head (status line, header lines and the blank line) a caster may send.
inline constexpr std::size_t kMaxResponseHeadBytes = 16 * 1024;

struct ResponseHead {
  std::string text;          // the head as received, line ends included
  std::string status_line;   // first line without its line end
  bool success = false;      // the caster is about to send the stream
  bool ntrip1 = false;       // "ICY 200 OK": no header block read, the stream follows the line
  bool chunked = false;      // Transfer-Encoding ends with chunked: the framing
  // Codings in the order listed (lower case, without parameters; "identity" left out).
  std::vector<std::string> transfer_codings, content_codings;
  int status = 0;            // the HTTP status code (ICY 200 OK: 200); 0 when the line has none
  bool sourcetable = false;  // "SOURCETABLE 200 OK", or Content-Type gnss/sourcetable
  std::string content_type;  // lower case, without parameters; empty when not given
  std::optional<std::uint64_t> content_length;
  std::string location;  // of a redirect
};

// Judges a complete answer head (status line and header block).
// Success: "ICY 200 OK", or an HTTP/1.0 or HTTP/1.1 status 200 whose Content-Type, if any, is
// neither gnss/sourcetable nor a text type (a web server's page). Everything else (401, 404,
// "SOURCETABLE 200 OK", no status line) fails.
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

// Why a set-up gave no stream, as the one line a user reads: the cause and what to check. The
// warning, the log line and the status all show this text.
struct Refusal {
  enum class Kind { None, Credentials, UnknownMount, Redirect, NotAStream, Answer, Network };
  Kind kind = Kind::None;
  std::string text;
  bool operator==(const Refusal&) const = default;
};

// The refusal an answer head that is not a stream's carries. `head` may be partial (a caster
// that closed before the blank line): only its status line is then known.
Refusal JudgeAnswer(const ResponseHead& head, std::string_view host, std::string_view port,
                    std::string_view mountpoint);
// A set-up whose answer never came whole: `what` says why (a read error, a bound).
Refusal NoUsableAnswer(std::string_view host, std::string_view port, std::string_view mountpoint,
                       std::string_view what);
// An answer whose Transfer-Encoding or Content-Encoding names a coding this client cannot undo.
Refusal UnreadableCoding(std::string_view host, std::string_view port, std::string_view mountpoint,
                         std::string_view coding);
// "the caster's body does not match the framing and codings it named (CODINGS): FAILURE": the
// client, not the caster, ended such a stream.
std::string BodyMismatch(const ResponseHead& head, std::string_view failure);
// A first body that does not match its head's framing and codings.
Refusal BodyNotAsNamed(const ResponseHead& head, std::string_view host, std::string_view port,
                       std::string_view failure);
// A connection that ended soon after it began, having carried almost nothing.
Refusal ShortConnection(std::string_view mountpoint, std::uint64_t bytes);
// A stream that showed no RTCM 3 frame in its first `bytes`; `kind`: what it looks like.
Refusal NoRtcmFrame(std::string_view mountpoint, std::uint64_t bytes, std::string_view kind);
// A connect, write or read that failed on the network.
Refusal NetworkRefusal(const boost::system::error_code& error, std::string_view host,
                       std::string_view port);
// A caster name the resolver does not know.
Refusal UnresolvedHost(std::string_view host, std::string_view description);
// A caster whose certificate failed verification: `failure` says why and names the subject.
Refusal TlsRefusal(std::string_view host, std::string_view failure);

// What the refusals of a sourcetable fetch name as asked for.
inline constexpr std::string_view kSourcetableSubject = "the sourcetable";
// Kind None for a sourcetable's answer: "SOURCETABLE 200 OK", or an HTTP/1.x status 200.
Refusal JudgeSourcetableAnswer(const ResponseHead& head, std::string_view host,
                               std::string_view port);
// The unknown mount point's refusal followed by up to ten of the caster's mount points, in the
// order given (nearest first); when `mountpoint` is one of them, the caster lists it but does not
// serve it now, and the refusal says that instead.
Refusal WithMountPoints(Refusal refusal, std::string_view mountpoint,
                        const std::vector<std::string>& names);

// An NTRIP 2.0 request, asked for by ntrip_version, that the caster refused with `status`.
Refusal Ntrip2Refused(int status, std::string_view host, std::string_view port,
                      std::string_view mountpoint);

// A status line or a value made printable for a message: control and non-ASCII bytes escaped,
// length bounded.
std::string PrintableStatusLine(std::string_view line);

}  // namespace tarno
