#pragma once
// One way to open a stream from a caster, for the stream request, the preferred caster's probe
// and the sourcetable alike: resolve the first hop, connect (straight, or to a proxy that then
// opens a tunnel, with the TLS handshake when the socket uses TLS), send the request (NTRIP 2.0
// or 1.0), read and judge the answer's head, send the GGA sentence an NTRIP 1.0 caster waits for,
// and hand over the body's decoder (chunked, Content-Length, codings). Every wait bounded; every
// failure a Refusal worded here or in the answer's judgement.
//
// StreamOpener is the steps, each on a socket its caller owns (a Close from another thread ends
// any of them): the client's own operations call them one by one. CasterStream runs them all on a
// connection of its own, for those that only look at a caster.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include "caster_response.h"
#include "client_socket.h"
#include "client_timing.h"
#include "content_coding.h"
#include "http_proxy.h"

namespace tarno {

using CasterEndpoints = boost::asio::ip::tcp::resolver::results_type;

// The request a caster is sent: NTRIP 2.0, NTRIP 1.0, or 2.0 first and 1.0 when the caster
// refuses 2.0 (RefusesNtrip2).
enum class NtripVersion { Auto, V2, V1 };

// Answers to the NTRIP 2.0 request of a caster that may take the 1.0 one.
bool RefusesNtrip2(int status);

// A caster and the way to it.
struct CasterAddress {
  std::string host;  // name or address, also sent as the Host header
  std::string port;  // decimal text
  std::string username, password;
  std::string gga;  // a GGA sentence with its CR LF, or empty to send none
  bool tls = false;
  std::string tls_ca_file;  // empty: the system's certificate store
  HttpProxy proxy;          // the same way out as the stream request
  NtripVersion version = NtripVersion::Auto;
};

// Keeps the choice a caster's answer made under NtripVersion::Auto: once it was asked in 1.0
// (`ntrip1`), it is asked in 1.0 from then on.
void KeepVersionAnswered(CasterAddress& caster, bool ntrip1);

// Why the first hop did not resolve.
Refusal ResolutionRefusal(const boost::system::error_code& error, std::string_view host,
                          const HttpProxy& proxy);

// Makes the socket's connections TLS, verified against `host`; a CA file that cannot be loaded
// is the refusal (kind None otherwise).
Refusal UseTlsFor(ClientSocket& socket, const std::string& host, const std::string& ca_file);

// What the answer must announce for the exchange to go on.
enum class Asked { Stream, Sourcetable };

struct ConnectOutcome {
  boost::system::error_code error;  // what the network said, for the log
  Refusal refusal;                  // kind None once the socket reaches the caster
};

struct CasterAnswer {
  boost::system::error_code error;  // a write or read that failed, for the log
  Refusal refusal;                  // kind None when what was asked follows the head
  // The head, partial when the answer never came whole, and the bytes read after it.
  ResponseHeadReader reader;
};

// What follows a head that announced what was asked.
struct BodyStart {
  Refusal refusal;      // kind None when the body can be read
  std::string failure;  // when not: what the log says (the network's words, or the coding's)
  std::optional<StreamDecoder> decoder;
  std::string first;  // the body's first bytes, decoded: those that came with the head
  StreamDecoder::Result result = StreamDecoder::Result::Ok;
  bool sent_gga = false;
};

// How the caster answered a stream request: "NTRIP 2.0, chunked", "NTRIP 2.0" or "NTRIP 1.0",
// followed by the codings undone ("NTRIP 2.0, chunked, gzip"). `ntrip1`: asked in 1.0; `tls`:
// over TLS ("NTRIP 2.0, TLS, chunked").
std::string StreamProtocol(const ResponseHead& head, bool ntrip1, bool tls);

class StreamOpener {
 public:
  using Clock = ClientSocket::Clock;

  // `mountpoint`: what a stream request asks for. Each step is bounded by its bound in `bounds`,
  // cut to what is left before `deadline`.
  StreamOpener(std::string host, std::string port, HttpProxy proxy, Asked asked,
               std::string mountpoint, const ClientTiming& bounds,
               Clock::time_point deadline = Clock::time_point::max());

  // The resolver's query for the first hop: the proxy when one is set (a caster behind a proxy is
  // the proxy's to resolve), the caster otherwise. Ports are numbers: no service name is looked
  // up. Any address family.
  boost::asio::ip::tcp::resolver::query FirstHop() const;
  // The endpoints of the first hop, from a resolver of its own.
  CasterEndpoints Resolve(boost::system::error_code& error) const;
  ConnectOutcome Connect(ClientSocket& socket, const CasterEndpoints& endpoints) const;
  // Sends `request` and reads the answer's head.
  CasterAnswer Ask(ClientSocket& socket, std::string_view request) const;
  // After a head that announced what was asked: every coding it names must be one the client
  // reads; a stream of an NTRIP 1.0 caster (asked in 1.0, or answering ICY) gets the sentence
  // that `gga` gives (called only then; an empty one is not sent); the decoder takes the bytes
  // that came with the head.
  BodyStart Start(ClientSocket& socket, const ResponseHeadReader& reader, bool ntrip1,
                  const std::function<std::string()>& gga) const;

  const HttpProxy& proxy() const { return _proxy; }

 private:
  std::chrono::nanoseconds Bound(std::chrono::nanoseconds bound) const;
  ConnectOutcome ReadProxyAnswer(ClientSocket& socket) const;
  Refusal Judge(const ResponseHead& head) const;

  const std::string _host, _port;
  const HttpProxy _proxy;
  const Asked _asked;
  const std::string _subject;  // as a refusal names what was asked
  const ClientTiming _bounds;
  const Clock::time_point _deadline;
};

// A stream opened on a connection of its own: every step of the opener, in order. Under
// NtripVersion::Auto a caster that refuses the 2.0 request (RefusesNtrip2) is asked in 1.0 at
// once, on a new connection.
class CasterStream {
 public:
  using Clock = ClientSocket::Clock;
  using Result = StreamDecoder::Result;

  // Opens at once. A `stop` closes the connection, which ends any step (the name resolution
  // excepted) and any read. The request carries the caster's GGA sentence, if any.
  CasterStream(const CasterAddress& caster, Asked asked, const std::string& mountpoint,
               const ClientTiming& bounds, std::stop_token stop = {},
               Clock::time_point deadline = Clock::time_point::max());
  ~CasterStream();
  CasterStream(const CasterStream&) = delete;
  CasterStream& operator=(const CasterStream&) = delete;

  // Kind None once the body follows.
  const Refusal& refusal() const { return _refusal; }
  // The last answer's head (partial when it never came whole).
  const ResponseHead& head() const { return _answer.reader.head(); }
  // Whether the request answered was the NTRIP 1.0 one.
  bool ntrip1() const { return _ntrip1; }

  // Appends the body's next bytes to `out`: first those that came with the head, then one read,
  // waiting until `deadline`. A read that fails sets `error` (eof at the end of the connection).
  Result Read(std::string& out, Clock::time_point deadline, boost::system::error_code& error);
  const std::string& failure() const { return _start.decoder->failure(); }

 private:
  // One request on a new connection; false when it gave no body.
  bool Open(const StreamOpener& opener, const CasterEndpoints& endpoints,
            const CasterAddress& caster, const std::string& mountpoint);

  bool _ntrip1;
  Refusal _refusal;
  CasterAnswer _answer;
  BodyStart _start;
  bool _first_taken = false;
  std::mutex _socket_mutex;  // the stop's thread closes the socket the opening thread replaces
  std::unique_ptr<ClientSocket> _socket;
  bool _stopped = false;  // under _socket_mutex
  std::optional<std::stop_callback<std::function<void()>>> _close_on_stop;
};

}  // namespace tarno
