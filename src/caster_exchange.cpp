#include "caster_exchange.h"

#include <memory>
#include <stdexcept>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>

#include "request_values.h"
#include "tls_session.h"

namespace tarno {

namespace {

// One read of the answer: the size of one raw chunk at most, since the bytes after the head are
// the stream's first chunk.
constexpr std::size_t kReadSize = 2048;

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

// The proxy's answer to CONNECT, read a byte at a time: what follows it belongs to the caster
// (or to the TLS handshake) and must stay in the socket.
ConnectOutcome ReadProxyAnswer(ClientSocket& socket, const HttpProxy& proxy, std::string_view host,
                               std::string_view port, ClientSocket::Clock::time_point deadline) {
  ResponseHeadReader reader;
  auto progress = ResponseHeadReader::Progress::NeedMore;
  while (progress == ResponseHeadReader::Progress::NeedMore) {
    char byte = 0;
    boost::system::error_code error;
    const std::size_t n = socket.ReadSome(&byte, 1, deadline, error);
    if (error) {
      // A proxy that says no and hangs up before its blank line still said why.
      if (!reader.head().status_line.empty()) {
        const Refusal refusal = JudgeProxyAnswer(reader.head(), proxy, host, port);
        if (refusal.kind != Refusal::Kind::None) return {error, refusal};
      }
      return {error, ProxyUnreachable(proxy, "its answer to CONNECT: " +
                                                 Said(error, "no complete answer in time"))};
    }
    progress = reader.Feed(std::string_view(&byte, n));
  }
  const auto protocol_error =
      boost::system::errc::make_error_code(boost::system::errc::protocol_error);
  if (progress == ResponseHeadReader::Progress::Failed) {
    return {protocol_error, ProxyUnreachable(proxy, reader.failure())};
  }
  const Refusal refusal = JudgeProxyAnswer(reader.head(), proxy, host, port);
  if (refusal.kind != Refusal::Kind::None) return {protocol_error, refusal};
  return {};
}

Refusal Judge(const ResponseHead& head, Asked asked, std::string_view host, std::string_view port,
              std::string_view subject) {
  if (asked == Asked::Sourcetable) return JudgeSourcetableAnswer(head, host, port);
  return head.success ? Refusal() : JudgeAnswer(head, host, port, subject);
}

// Whether a status line alone already says no to what was asked.
bool RefusesAlready(std::string_view status_line, int status, Asked asked) {
  if (status_line.empty()) return false;
  return asked == Asked::Stream ? !IsStreamStatusLine(status_line) : status != 200;
}

}  // namespace

CasterEndpoints ResolveCaster(std::string_view host, std::string_view port, const HttpProxy& proxy,
                              boost::system::error_code& error) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::resolver resolver(io);
  return resolver.resolve(BareHost(std::string(proxy.Enabled() ? proxy.host : host)),
                          proxy.Enabled() ? proxy.port : port,
                          boost::asio::ip::tcp::resolver::numeric_service, error);
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

ConnectOutcome ConnectToCaster(ClientSocket& socket, const CasterEndpoints& endpoints,
                               const HttpProxy& proxy, std::string_view host, std::string_view port,
                               const ClientTiming& timing) {
  if (!proxy.Enabled()) {
    if (const auto error = socket.Connect(endpoints, timing.connect_bound)) {
      return {error, DirectRefusal(socket, error, host, port)};
    }
    return {};
  }
  if (const auto error = socket.ConnectPlain(endpoints, timing.connect_bound)) {
    return {error, ProxyUnreachable(proxy, Said(error, "no connection in time"))};
  }
  if (const auto error =
          socket.WriteAll(ProxyConnectRequest(proxy, host, port), timing.request_bound)) {
    return {error, ProxyUnreachable(proxy, "sending CONNECT: " + Said(error, "timed out"))};
  }
  ConnectOutcome tunnel =
      ReadProxyAnswer(socket, proxy, host, port, ClientSocket::Clock::now() + timing.header_bound);
  if (tunnel.error || tunnel.refusal.kind != Refusal::Kind::None) return tunnel;
  if (const auto error = socket.StartTls(timing.connect_bound)) {
    return {error, DirectRefusal(socket, error, host, port)};
  }
  return {};
}

CasterAnswer AskCaster(ClientSocket& socket, std::string_view request, Asked asked,
                       std::string_view host, std::string_view port, std::string_view subject,
                       const ClientTiming& timing) {
  CasterAnswer answer;
  if (const auto error = socket.WriteAll(request, timing.request_bound)) {
    answer.error = error;
    answer.refusal = NetworkRefusal(error, host, port);
    return answer;
  }
  ResponseHeadReader& reader = answer.reader;
  const auto deadline = ClientSocket::Clock::now() + timing.header_bound;
  char buffer[kReadSize];
  auto progress = ResponseHeadReader::Progress::NeedMore;
  while (progress == ResponseHeadReader::Progress::NeedMore) {
    boost::system::error_code error;
    const std::size_t n = socket.ReadSome(buffer, sizeof buffer, deadline, error);
    if (error) {
      answer.error = error;
      // A caster that says no and hangs up before its blank line still said why.
      const ResponseHead& partial = reader.head();
      if (RefusesAlready(partial.status_line, partial.status, asked)) {
        answer.refusal = Judge(partial, asked, host, port, subject);
      } else {
        const std::string what = error == boost::asio::error::timed_out
                                     ? "no complete answer in time"
                                     : "the answer was cut: " + error.message();
        answer.refusal = NoUsableAnswer(host, port, subject, what);
      }
      return answer;
    }
    progress = reader.Feed(std::string_view(buffer, n));
  }
  if (progress == ResponseHeadReader::Progress::Failed) {
    answer.refusal = NoUsableAnswer(host, port, subject, reader.failure());
    return answer;
  }
  answer.refusal = Judge(reader.head(), asked, host, port, subject);
  return answer;
}

}  // namespace tarno
