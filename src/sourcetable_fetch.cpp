#include "sourcetable_fetch.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include <boost/asio/error.hpp>

#include "base64.h"
#include "caster_exchange.h"
#include "caster_response.h"
#include "client_socket.h"
#include "ntrip_request.h"
#include "stream_body.h"

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
  Fetch(const CasterAddress& caster, const ClientTiming& timing)
      : _caster(caster), _timing(timing) {}

  FetchedSourcetable Run(std::stop_token stop) {
    // Closing the socket ends every wait of the fetch, whichever thread asks.
    const std::stop_callback close_on_stop(stop, [this] { _socket.Close(); });
    if (!Connect() || !Ask() || !ReadBody()) return std::move(_result);
    _result.table = ParseSourcetable(_body);
    return std::move(_result);
  }

 private:
  bool Fail(Refusal refusal) {
    _result.refusal = std::move(refusal);
    return false;
  }

  bool Connect() {
    boost::system::error_code error;
    const auto endpoints = ResolveCaster(_caster.host, _caster.port, _caster.proxy, error);
    if (error) return Fail(ResolutionRefusal(error, _caster.host, _caster.proxy));
    if (_caster.tls) {
      if (Refusal refusal = UseTlsFor(_socket, _caster.host, _caster.tls_ca_file);
          refusal.kind != Refusal::Kind::None) {
        return Fail(std::move(refusal));
      }
    }
    const ConnectOutcome outcome =
        ConnectToCaster(_socket, endpoints, _caster.proxy, _caster.host, _caster.port, _timing);
    if (outcome.error || outcome.refusal.kind != Refusal::Kind::None) {
      return Fail(outcome.refusal);
    }
    return true;
  }

  bool Ask() {
    std::string credential;
    if (!_caster.username.empty())
      Base64Encode(_caster.username + ":" + _caster.password, credential);
    const std::string request = NtripRequest("", _caster.host, credential, _caster.gga);
    CasterAnswer answer = AskCaster(_socket, request, Asked::Sourcetable, _caster.host,
                                    _caster.port, kSourcetableSubject, _timing);
    _result.status_line = PrintableStatusLine(answer.reader.head().status_line);
    if (answer.refusal.kind != Refusal::Kind::None) return Fail(std::move(answer.refusal));
    _framing.chunked = answer.reader.head().chunked;
    _framing.length = answer.reader.head().content_length;
    _data = std::string(answer.reader.leftover());
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
    if (error) {
      return Fail(NoUsableAnswer(_caster.host, _caster.port, kSourcetableSubject,
                                 error == boost::asio::error::timed_out
                                     ? "no complete answer in time"
                                     : "the answer was cut: " + error.message()));
    }
    into.append(buffer, n);
    return true;
  }

  // Adds bytes to the body; false once it is whole (`_done`) or broken.
  bool Take(std::string_view bytes) {
    const std::size_t before = _body.size();
    if (_framing.chunked) {
      const auto result = _chunked.Feed(bytes, _body);
      if (result == ChunkedDecoder::Result::Malformed) {
        return Fail({Refusal::Kind::Answer, _chunked.failure()});
      }
      _done = result == ChunkedDecoder::Result::End;
    } else if (_framing.length) {
      _body.append(bytes.substr(0, *_framing.length - std::min(*_framing.length, _body.size())));
      _done = _body.size() >= *_framing.length;
    } else {
      _body.append(bytes);
    }
    if (_body.size() > kMaxSourcetableBytes) {
      return Fail({Refusal::Kind::Answer,
                   "sourcetable longer than " + std::to_string(kMaxSourcetableBytes) + " bytes"});
    }
    // Some casters keep the connection open after the table: its end line ends the answer.
    _done = _done || HasEndLine(_body, before);
    return !_done;
  }

  bool ReadBody() {
    // The whole answer is bounded too, so a caster trickling bytes cannot hold the fetch.
    const auto answer_deadline = Clock::now() + _timing.header_bound + _timing.idle_read_bound;
    std::string bytes = std::move(_data);
    while (Take(bytes)) {
      bytes.clear();
      const auto deadline = std::min(answer_deadline, Clock::now() + _timing.idle_read_bound);
      if (!Read(bytes, deadline)) {
        if (!_eof) return false;
        // Without a framing, the end of the connection is the end of the table.
        if (_framing.chunked || _framing.length) {
          return Fail({Refusal::Kind::Answer, "the sourcetable was cut short"});
        }
        return true;
      }
    }
    return _done && _result.refusal.kind == Refusal::Kind::None;
  }

  const CasterAddress& _caster;
  const ClientTiming& _timing;
  ClientSocket _socket;
  FetchedSourcetable _result;
  std::string _data, _body;
  Framing _framing;
  ChunkedDecoder _chunked;
  bool _eof = false;
  bool _done = false;
};

}  // namespace

FetchedSourcetable FetchSourcetable(const CasterAddress& caster, const ClientTiming& timing,
                                    std::stop_token stop) {
  return Fetch(caster, timing).Run(std::move(stop));
}

}  // namespace tarno
