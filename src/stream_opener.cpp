#include "stream_opener.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>

#include "base64.h"
#include "ntrip_request.h"
#include "request_values.h"
#include "tls_session.h"

namespace tarno {

namespace {

// One read of the answer: the size of one raw chunk at most, since the bytes after the head are
// the stream's first chunk.
constexpr std::size_t kReadSize = 2048;
// One read of a body nobody publishes (a probe, a sourcetable).
constexpr std::size_t kBodyReadSize = 16 * 1024;

Refusal DirectRefusal(const ClientSocket& socket, const boost::system::error_code& error,
                      std::string_view host, std::string_view port) {
  if (const std::string failure = socket.TlsFailure(); !failure.empty()) {
    return TlsRefusal(host, failure);
  }
  return NetworkRefusal(error, host, port);
}

std::string Said(const boost::system::error_code& error, std::string_view late) {
  return error == boost::asio::error::timed_out ? std::string(late) : error.message();
}

// Whether a status line alone already says no to what was asked.
bool RefusesAlready(std::string_view status_line, int status, Asked asked) {
  if (status_line.empty()) return false;
  return asked == Asked::Stream ? !IsStreamStatusLine(status_line) : status != 200;
}

}  // namespace

bool RefusesNtrip2(int status) {
  return status == 400 || status == 405 || status == 501 || status == 505;
}

void KeepVersionAnswered(CasterAddress& caster, bool ntrip1) {
  if (ntrip1 && caster.version == NtripVersion::Auto) caster.version = NtripVersion::V1;
}

Refusal ResolutionRefusal(const boost::system::error_code& error, std::string_view host,
                          const HttpProxy& proxy) {
  return proxy.Enabled() ? UnresolvedProxy(proxy, error.message())
                         : UnresolvedHost(host, error.message());
}

Refusal UseTlsFor(ClientSocket& socket, const std::string& host, const std::string& ca_file) {
  try {
    socket.UseTls(std::make_shared<TlsContext>(host, ca_file));
  } catch (const std::invalid_argument& e) {
    return {Refusal::Kind::Network, e.what()};
  }
  return {};
}

std::string StreamProtocol(const ResponseHead& head, bool ntrip1, bool tls) {
  // Whatever the answer's form, a caster asked in 1.0 speaks 1.0.
  std::string protocol = head.ntrip1 || ntrip1 ? "NTRIP 1.0" : "NTRIP 2.0";
  if (tls) protocol += ", TLS";
  if (!head.ntrip1 && !ntrip1 && head.chunked) protocol += ", chunked";
  for (const auto* list : {&head.transfer_codings, &head.content_codings}) {
    for (const std::string& coding : *list) {
      if (coding != "chunked" || !head.chunked) protocol += ", " + coding;
    }
  }
  return protocol;
}

StreamOpener::StreamOpener(std::string host, std::string port, HttpProxy proxy, Asked asked,
                           std::string mountpoint, const ClientTiming& bounds,
                           Clock::time_point deadline)
    : _host(std::move(host)),
      _port(std::move(port)),
      _proxy(std::move(proxy)),
      _asked(asked),
      _subject(asked == Asked::Sourcetable ? std::string(kSourcetableSubject)
                                           : std::move(mountpoint)),
      _bounds(bounds),
      _deadline(deadline) {}

std::chrono::nanoseconds StreamOpener::Bound(std::chrono::nanoseconds bound) const {
  if (_deadline == Clock::time_point::max()) return bound;
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(_deadline - Clock::now());
  return std::clamp(left, std::chrono::nanoseconds(1),
                    std::max(bound, std::chrono::nanoseconds(1)));
}

boost::asio::ip::tcp::resolver::query StreamOpener::FirstHop() const {
  return {BareHost(_proxy.Enabled() ? _proxy.host : _host), _proxy.Enabled() ? _proxy.port : _port,
          boost::asio::ip::tcp::resolver::query::numeric_service};
}

CasterEndpoints StreamOpener::Resolve(boost::system::error_code& error) const {
  boost::asio::io_context io;
  boost::asio::ip::tcp::resolver resolver(io);
  return resolver.resolve(FirstHop(), error);
}

// The proxy's answer to CONNECT, read a byte at a time: what follows it belongs to the caster
// (or to the TLS handshake) and must stay in the socket.
ConnectOutcome StreamOpener::ReadProxyAnswer(ClientSocket& socket) const {
  const auto deadline = Clock::now() + Bound(_bounds.header_bound);
  ResponseHeadReader reader;
  auto progress = ResponseHeadReader::Progress::NeedMore;
  while (progress == ResponseHeadReader::Progress::NeedMore) {
    char byte = 0;
    boost::system::error_code error;
    const std::size_t n = socket.ReadSome(&byte, 1, deadline, error);
    if (error) {
      // A proxy that says no and hangs up before its blank line still said why.
      if (!reader.head().status_line.empty()) {
        const Refusal refusal = JudgeProxyAnswer(reader.head(), _proxy, _host, _port);
        if (refusal.kind != Refusal::Kind::None) return {error, refusal};
      }
      return {error, ProxyUnreachable(_proxy, "its answer to CONNECT: " +
                                                  Said(error, "no complete answer in time"))};
    }
    progress = reader.Feed(std::string_view(&byte, n));
  }
  const auto protocol_error =
      boost::system::errc::make_error_code(boost::system::errc::protocol_error);
  if (progress == ResponseHeadReader::Progress::Failed) {
    return {protocol_error, ProxyUnreachable(_proxy, reader.failure())};
  }
  const Refusal refusal = JudgeProxyAnswer(reader.head(), _proxy, _host, _port);
  if (refusal.kind != Refusal::Kind::None) return {protocol_error, refusal};
  // Bytes already there came from the proxy, not the caster, which has not been asked yet; a
  // look without waiting, so a sound proxy costs nothing.
  char extra[512];
  boost::system::error_code none_yet;
  if (const std::size_t n = socket.ReadSome(extra, sizeof extra, Clock::now(), none_yet); n > 0) {
    return {protocol_error, ProxyExtraBytes(_proxy, n)};
  }
  return {};
}

ConnectOutcome StreamOpener::Connect(ClientSocket& socket, const CasterEndpoints& endpoints) const {
  if (!_proxy.Enabled()) {
    if (const auto error = socket.Connect(endpoints, Bound(_bounds.connect_bound))) {
      return {error, DirectRefusal(socket, error, _host, _port)};
    }
    return {};
  }
  if (const auto error = socket.ConnectPlain(endpoints, Bound(_bounds.connect_bound))) {
    return {error, ProxyUnreachable(_proxy, Said(error, "no connection in time"))};
  }
  if (const auto error = socket.WriteAll(ProxyConnectRequest(_proxy, _host, _port),
                                         Bound(_bounds.request_bound))) {
    return {error, ProxyUnreachable(_proxy, "sending CONNECT: " + Said(error, "timed out"))};
  }
  ConnectOutcome tunnel = ReadProxyAnswer(socket);
  if (tunnel.error || tunnel.refusal.kind != Refusal::Kind::None) return tunnel;
  if (const auto error = socket.StartTls(Bound(_bounds.connect_bound))) {
    return {error, DirectRefusal(socket, error, _host, _port)};
  }
  return {};
}

Refusal StreamOpener::Judge(const ResponseHead& head) const {
  if (_asked == Asked::Sourcetable) return JudgeSourcetableAnswer(head, _host, _port);
  return head.success ? Refusal() : JudgeAnswer(head, _host, _port, _subject);
}

CasterAnswer StreamOpener::Ask(ClientSocket& socket, std::string_view request) const {
  CasterAnswer answer;
  if (const auto error = socket.WriteAll(request, Bound(_bounds.request_bound))) {
    answer.error = error;
    answer.refusal = NetworkRefusal(error, _host, _port);
    return answer;
  }
  ResponseHeadReader& reader = answer.reader;
  const auto deadline = Clock::now() + Bound(_bounds.header_bound);
  char buffer[kReadSize];
  auto progress = ResponseHeadReader::Progress::NeedMore;
  while (progress == ResponseHeadReader::Progress::NeedMore) {
    boost::system::error_code error;
    const std::size_t n = socket.ReadSome(buffer, sizeof buffer, deadline, error);
    if (error) {
      answer.error = error;
      // A caster that says no and hangs up before its blank line still said why.
      const ResponseHead& partial = reader.head();
      if (RefusesAlready(partial.status_line, partial.status, _asked)) {
        answer.refusal = Judge(partial);
      } else {
        const std::string what = error == boost::asio::error::timed_out
                                     ? "no complete answer in time"
                                     : "the answer was cut: " + error.message();
        answer.refusal = NoUsableAnswer(_host, _port, _subject, what);
      }
      return answer;
    }
    progress = reader.Feed(std::string_view(buffer, n));
  }
  if (progress == ResponseHeadReader::Progress::Failed) {
    answer.refusal = NoUsableAnswer(_host, _port, _subject, reader.failure());
    return answer;
  }
  answer.refusal = Judge(reader.head());
  return answer;
}

BodyStart StreamOpener::Start(ClientSocket& socket, const ResponseHeadReader& reader, bool ntrip1,
                              const std::function<std::string()>& gga) const {
  BodyStart start;
  const ResponseHead& head = reader.head();
  if (const std::string coding = UnknownCoding(head); !coding.empty()) {
    // Nothing of a body the client cannot read is taken.
    start.failure = "unknown coding " + PrintableStatusLine(coding);
    start.refusal = UnreadableCoding(_host, _port, _subject, coding);
    return start;
  }
  if (_asked == Asked::Stream && (head.ntrip1 || ntrip1)) {
    // An NTRIP 1.0 caster reads no request header: it waits for a sentence in the stream before
    // it sends anything.
    if (const std::string sentence = gga(); !sentence.empty()) {
      if (const auto error = socket.WriteAll(sentence, Bound(_bounds.request_bound))) {
        start.failure = error.message();
        start.refusal = NetworkRefusal(error, _host, _port);
        return start;
      }
      start.sent_gga = true;
    }
  }
  // Bytes that came with the head are the body's first bytes, whatever the framing.
  start.decoder.emplace(head);
  start.result = start.decoder->Feed(reader.leftover(), start.first);
  if (start.result == StreamDecoder::Result::Malformed) {
    start.failure = start.decoder->failure();
    start.refusal = BodyNotAsNamed(head, _host, _port, start.failure);
  }
  return start;
}

CasterStream::CasterStream(const CasterAddress& caster, Asked asked, const std::string& mountpoint,
                           const ClientTiming& bounds, std::stop_token stop,
                           Clock::time_point deadline)
    : _ntrip1(caster.version == NtripVersion::V1) {
  _close_on_stop.emplace(std::move(stop), [this] {
    std::scoped_lock lock(_socket_mutex);
    _stopped = true;
    if (_socket) _socket->Close();
  });
  const StreamOpener opener(caster.host, caster.port, caster.proxy, asked, mountpoint, bounds,
                            deadline);
  boost::system::error_code error;
  const CasterEndpoints endpoints = opener.Resolve(error);
  if (error) {
    _refusal = ResolutionRefusal(error, caster.host, caster.proxy);
    return;
  }
  if (Open(opener, endpoints, caster, mountpoint)) return;
  // A caster of NTRIP 1.0 alone refuses the 2.0 request that the user's setting forced.
  if (caster.version == NtripVersion::V2 && RefusesNtrip2(head().status)) {
    _refusal = Ntrip2Refused(head().status, caster.host, caster.port, mountpoint);
    return;
  }
  if (caster.version != NtripVersion::Auto || _ntrip1 || !RefusesNtrip2(head().status)) return;
  _ntrip1 = true;
  Open(opener, endpoints, caster, mountpoint);
}

CasterStream::~CasterStream() = default;

bool CasterStream::Open(const StreamOpener& opener, const CasterEndpoints& endpoints,
                        const CasterAddress& caster, const std::string& mountpoint) {
  std::unique_ptr<ClientSocket> fresh;
  try {
    fresh = std::make_unique<ClientSocket>();
  } catch (const std::system_error& e) {
    // Out of descriptors: a refusal like any other, never an exception in a probe's thread.
    _refusal = {Refusal::Kind::Network, e.what()};
    return false;
  }
  {
    std::scoped_lock lock(_socket_mutex);
    // A stop that came first ends every step on this socket at once.
    if (_stopped) fresh->Close();
    _socket.swap(fresh);
  }
  ClientSocket& socket = *_socket;
  if (caster.tls) {
    _refusal = UseTlsFor(socket, caster.host, caster.tls_ca_file);
    if (_refusal.kind != Refusal::Kind::None) return false;
  }
  if (ConnectOutcome connected = opener.Connect(socket, endpoints);
      connected.refusal.kind != Refusal::Kind::None) {
    _refusal = std::move(connected.refusal);
    return false;
  }
  const std::string request =
      NtripRequest(mountpoint, caster.host, BasicCredential(caster.username, caster.password),
                   caster.gga, _ntrip1);
  _answer = opener.Ask(socket, request);
  _refusal = _answer.refusal;
  if (_refusal.kind != Refusal::Kind::None) return false;
  _start = opener.Start(socket, _answer.reader, _ntrip1, [&caster] { return caster.gga; });
  _refusal = _start.refusal;
  return _refusal.kind == Refusal::Kind::None;
}

CasterStream::Result CasterStream::Read(std::string& out, Clock::time_point deadline,
                                        boost::system::error_code& error) {
  error.clear();
  if (!_start.decoder || _refusal.kind != Refusal::Kind::None) {
    error = boost::asio::error::not_connected;
    return Result::Ok;
  }
  if (!_first_taken) {
    _first_taken = true;
    out += _start.first;
    if (!_start.first.empty() || _start.result != Result::Ok) return _start.result;
  }
  char buffer[kBodyReadSize];
  const std::size_t n = _socket->ReadSome(buffer, sizeof buffer, deadline, error);
  if (error) return Result::Ok;
  return _start.decoder->Feed(std::string_view(buffer, n), out);
}

}  // namespace tarno
