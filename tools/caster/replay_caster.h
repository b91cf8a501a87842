// A small NTRIP caster that replays recorded RTCM 3 streams, for tests, benchmarks and the demo.
// It serves NTRIP 1.0 and 2.0 requests on one listening socket, records what each connection
// received and sent, and can misbehave on purpose (fault modes).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace caster {

enum class FaultMode {
  None,
  CloseAfter,      // close the connection after `after_bytes` stream bytes
  StallAfter,      // stop sending (keep the socket open, still read GGA) after `after_bytes`
  NeverAnswer,     // accept, read the request, never answer
  Reset,           // answer, send `after_bytes` stream bytes, then reset (SO_LINGER 0 + close)
  StatusLine,      // answer `status_line` + "\r\n" + "\r\n" (e.g. "HTTP/1.1 401 Unauthorized") then
                   // close
  EndlessHeaders,  // status line then header lines forever (bounded only by the client)
  Garbage,         // a 200 answer followed by random non-RTCM bytes instead of the recording
  // Addition beyond the first agreed set:
  Sourcetable,  // answer every request with the sourcetable, in the form of the request's
                // version (NTRIP 2.0: "HTTP/1.1 200 OK", Content-Type gnss/sourcetable), then close
  Answer,       // answer a request for a served mount point with `status_line` as the whole head
                // (line ends included), then stream it without framing: the answers of casters
                // and servers of other kinds ("ICY 200 OK" with header lines, Content-Length,
                // a web page)
  Ntrip1Only,   // a caster of NTRIP 1.0 alone: an NTRIP 2.0 request gets "HTTP/1.1 400 Bad
                // Request" and a close; NTRIP 1.0 requests are served as usual
};

// How the stream leaves, besides the chunked framing.
enum class StreamCoding {
  None,
  GzipMembers,     // each write one gzip member
  DeflateFlushed,  // one deflate stream (zlib format), flushed at every write
};

struct Fault {
  FaultMode mode = FaultMode::None;
  std::size_t after_bytes = 0;
  std::string status_line;
};

struct MountPoint {
  std::string name;
  std::string bytes;  // the recording, served in a loop
  // What its sourcetable row says of it.
  double latitude = 0, longitude = 0;
  std::string format = "RTCM 3";
};

struct CasterOptions {
  std::string listen_address = "127.0.0.1";  // IPv4 or IPv6 literal ("::1")
  std::uint16_t port = 0;                    // 0: any free port (see Port())
  std::vector<MountPoint> mounts;
  std::string user, password;  // empty user: no authentication required
  double rate = -1;     // bytes per second; < 0: default pacing (whole frames, about 1 kB/s);
                        // 0: as fast as possible
  bool chunked = true;  // NTRIP 2.0 answers use Transfer-Encoding: chunked
  Fault fault;
  std::string gga_log_path;   // empty: no GGA log file
  std::size_t max_bytes = 0;  // stop serving a connection (close it) after this many stream bytes;
                              // 0 = loop forever

  // Additions beyond the first agreed set.
  bool whole_frames = false;   // with rate > 0: send whole RTCM frames at that average rate
  bool icy_blank_line = true;  // "ICY 200 OK" followed by a blank line (false: stream follows)
  bool record_payload = true;  // false: ConnectionRecord::served stays empty (long benchmarks)
  bool answer_with_first_bytes = true;  // the 200 answer and the first stream bytes in one write,
                                        // so they reach the client in the same transfer
  std::chrono::milliseconds request_timeout{10000};  // bound on the handshake and the request
  // Both set: every connection is TLS with this certificate chain and key (PEM files).
  std::string tls_cert_file, tls_key_file;
  bool live_time = false;  // each pass over a recording moves its observation epochs to the
                           // present (CRC recomputed); false: the bytes as recorded
  // NTRIP 2.0 answers: the stream compressed, named by Transfer-Encoding ("gzip, chunked", or
  // "gzip" alone without chunked framing), or by Content-Encoding when coding_as_content. The
  // sourcetable of an NTRIP 2.0 request is compressed the same way, in one piece.
  StreamCoding coding = StreamCoding::None;
  bool coding_as_content = false;
};

struct WriteMark {
  std::size_t end_offset;  // payload offset reached by this write
  std::chrono::steady_clock::time_point when;
};

struct ConnectionRecord {
  std::string request;  // request bytes received, up to and including the blank line (and any
                        // further empty lines that came in the same transfer)
  std::vector<std::string> gga;  // every GGA sentence received (from the request header and
                                 // later), without "Ntrip-GGA:" and CR LF
  std::string served;  // exact stream payload bytes written (no headers, no chunk framing)
  std::vector<WriteMark> writes;  // each socket write: payload offset reached, time it began
  bool closed = false;

  // Additions beyond the first agreed set.
  std::string peer;              // "ADDR:PORT" of the client
  std::chrono::steady_clock::time_point accepted{};  // when the connection began to be served
  std::string received;          // every byte the client sent, in order (request and updates)
  std::string answer;            // the header bytes written before the stream (or the whole answer)
  std::size_t served_bytes = 0;  // payload bytes written (counted even without record_payload)
};

class ReplayCaster {
 public:
  explicit ReplayCaster(CasterOptions options);  // binds and starts serving; throws on bind failure
  ~ReplayCaster();                               // Stop()
  ReplayCaster(const ReplayCaster&) = delete;
  ReplayCaster& operator=(const ReplayCaster&) = delete;

  std::uint16_t Port() const;
  void Stop();  // closes everything, joins its threads; idempotent
  std::size_t ConnectionCount() const;
  // Snapshot, in accept order; an index not accepted yet gives an empty record, so that
  // WaitUntil predicates may look before the client has connected.
  ConnectionRecord Connection(std::size_t index) const;
  // Waits until pred(*this) is true or the deadline passes; returns pred's last value.
  bool WaitUntil(const std::function<bool(const ReplayCaster&)>& pred,
                 std::chrono::milliseconds deadline) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reads a whole file as bytes; throws std::runtime_error naming the path on failure.
std::string ReadFileBytes(const std::string& path);

}  // namespace caster
