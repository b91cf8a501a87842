#include "sourcetable_fetch.h"

#include "request_values.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "base64.h"
#include "caster_connect.h"
#include "caster_response.h"
#include "client_socket.h"
#include "ntrip_request.h"
#include "stream_body.h"
#include "tls_session.h"

namespace tarno {

namespace {

using Clock = ClientSocket::Clock;

constexpr std::size_t kReadSize = 16 * 1024;
constexpr std::string_view kEndLine = "ENDSOURCETABLE";

struct Framing {
  bool chunked = false;
  std::optional<std::uint64_t> length;
};

// True once the body holds the end line at the start of a line; `from` skips what was searched.
bool HasEndLine(std::string_view body, std::size_t from) {
  std::size_t at = from > kEndLine.size() ? from - kEndLine.size() : 0;
  while ((at = body.find(kEndLine, at)) != std::string_view::npos) {
    if (at == 0 || body[at - 1] == '\n') return true;
    ++at;
  }
  return false;
}

class Fetch {
 public:
  Fetch(const CasterAddress& caster, const SourcetableBounds& bounds)
      : _caster(caster), _bounds(bounds) {}

  FetchedSourcetable Run() {
    if (!Connect() || !Send() || !ReadHead() || !ReadBody()) return std::move(_result);
    _result.table = ParseSourcetable(_body);
    return std::move(_result);
  }

 private:
  bool Fail(std::string reason) {
    _result.error = std::move(reason);
    return false;
  }

  bool Connect() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::resolver resolver(io);
    boost::system::error_code error;
    const HttpProxy& proxy = _caster.proxy;
    // Ports are numbers: service names are never looked up. Behind a proxy, the proxy resolves
    // the caster's name.
    const auto endpoints =
        resolver.resolve(BareHost(proxy.Enabled() ? proxy.host : _caster.host),
                         proxy.Enabled() ? proxy.port : _caster.port,
                         boost::asio::ip::tcp::resolver::numeric_service, error);
    if (error) {
      if (proxy.Enabled()) return Fail(UnresolvedProxy(proxy, error.message()).text);
      return Fail("cannot resolve " + _caster.host + ":" + _caster.port + ": " + error.message());
    }
    if (_caster.tls) {
      try {
        _socket.UseTls(std::make_shared<TlsContext>(_caster.host, _caster.tls_ca_file));
      } catch (const std::invalid_argument& e) {
        return Fail(e.what());
      }
    }
    ConnectBounds bounds;
    bounds.connect = _bounds.connect;
    bounds.request = _bounds.request;
    bounds.header = _bounds.header;
    const ConnectOutcome outcome =
        ConnectToCaster(_socket, endpoints, proxy, _caster.host, _caster.port, bounds);
    if (outcome.error || outcome.refusal.kind != Refusal::Kind::None) {
      return Fail(outcome.refusal.text);
    }
    return true;
  }

  bool Send() {
    std::string credential;
    if (!_caster.username.empty())
      Base64Encode(_caster.username + ":" + _caster.password, credential);
    const std::string request = NtripRequest("", _caster.host, credential, _caster.gga);
    if (const auto error = _socket.WriteAll(request, _bounds.request)) {
      return Fail("sending the request: " + error.message());
    }
    return true;
  }

  // Appends one read to `into`; false at the end of the stream (`_eof`) or on an error.
  bool Read(std::string& into, Clock::time_point deadline) {
    char buffer[kReadSize];
    boost::system::error_code error;
    const std::size_t n = _socket.ReadSome(buffer, sizeof buffer, deadline, error);
    if (error == boost::asio::error::eof) {
      _eof = true;
      return false;
    }
    if (error) return Fail("reading the answer: " + error.message());
    into.append(buffer, n);
    return true;
  }

  // The head is read by the same reader as the stream request's answer, so both agree on
  // line ends, framing headers and bounds.
  bool ReadHead() {
    const auto deadline = Clock::now() + _bounds.header;
    ResponseHeadReader reader;
    auto progress = ResponseHeadReader::Progress::NeedMore;
    while (progress == ResponseHeadReader::Progress::NeedMore) {
      std::string bytes;
      if (!Read(bytes, deadline)) {
        return _eof ? Fail("the caster closed the connection before the end of its headers")
                    : false;
      }
      progress = reader.Feed(bytes);
    }
    if (progress == ResponseHeadReader::Progress::Failed) return Fail(reader.failure());
    const ResponseHead& head = reader.head();
    _result.status_line = PrintableStatusLine(head.status_line);
    // NTRIP 1.0 casters answer "SOURCETABLE 200 OK"; NTRIP 2.0 ones an HTTP 200.
    const std::string_view status = head.status_line;
    const bool ok = head.status == 200 &&
                    (status.starts_with("SOURCETABLE ") || status.starts_with("HTTP/1.1 ") ||
                     status.starts_with("HTTP/1.0 "));
    if (!ok) return Fail("the caster answered \"" + _result.status_line + "\"");
    _framing.chunked = head.chunked;
    _framing.length = head.content_length;
    _data = std::string(reader.leftover());
    return true;
  }

  // Adds bytes to the body; false once it is whole (`_done`) or broken.
  bool Take(std::string_view bytes) {
    const std::size_t before = _body.size();
    if (_framing.chunked) {
      const auto result = _chunked.Feed(bytes, _body);
      if (result == ChunkedDecoder::Result::Malformed) return Fail(_chunked.failure());
      _done = result == ChunkedDecoder::Result::End;
    } else if (_framing.length) {
      _body.append(bytes.substr(0, *_framing.length - std::min(*_framing.length, _body.size())));
      _done = _body.size() >= *_framing.length;
    } else {
      _body.append(bytes);
    }
    if (_body.size() > kMaxSourcetableBytes) {
      return Fail("sourcetable longer than " + std::to_string(kMaxSourcetableBytes) + " bytes");
    }
    // Some casters keep the connection open after the table: its end line ends the answer.
    _done = _done || HasEndLine(_body, before);
    return !_done;
  }

  bool ReadBody() {
    // The whole answer is bounded too, so a caster trickling bytes cannot hold the fetch.
    const auto answer_deadline = Clock::now() + _bounds.header + _bounds.idle_read;
    std::string bytes = std::move(_data);
    while (Take(bytes)) {
      bytes.clear();
      const auto deadline = std::min(answer_deadline, Clock::now() + _bounds.idle_read);
      if (!Read(bytes, deadline)) {
        if (!_eof) return false;
        // Without a framing, the end of the connection is the end of the table.
        if (_framing.chunked || _framing.length) return Fail("the sourcetable was cut short");
        return true;
      }
    }
    return _done && _result.error.empty();
  }

  const CasterAddress& _caster;
  const SourcetableBounds& _bounds;
  ClientSocket _socket;
  FetchedSourcetable _result;
  std::string _data, _body;
  Framing _framing;
  ChunkedDecoder _chunked;
  bool _eof = false;
  bool _done = false;
};

}  // namespace

FetchedSourcetable FetchSourcetable(const CasterAddress& caster, const SourcetableBounds& bounds) {
  return Fetch(caster, bounds).Run();
}

}  // namespace tarno
