#include "caster_connect.h"

#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>

namespace tarno {

namespace {

Refusal DirectRefusal(const ClientSocket& socket, const boost::system::error_code& error,
                      std::string_view host, std::string_view port) {
  if (const std::string failure = socket.TlsFailure(); !failure.empty()) {
    return {Refusal::Kind::Network,
            "TLS verification of " + std::string(host) + " failed: " + failure};
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

}  // namespace

ConnectOutcome ConnectToCaster(ClientSocket& socket,
                               const boost::asio::ip::tcp::resolver::results_type& endpoints,
                               const HttpProxy& proxy, std::string_view host, std::string_view port,
                               const ConnectBounds& bounds) {
  if (!proxy.Enabled()) {
    if (const auto error = socket.Connect(endpoints, bounds.connect)) {
      return {error, DirectRefusal(socket, error, host, port)};
    }
    return {};
  }
  if (const auto error = socket.ConnectPlain(endpoints, bounds.connect)) {
    return {error, ProxyUnreachable(proxy, Said(error, "no connection in time"))};
  }
  if (const auto error = socket.WriteAll(ProxyConnectRequest(proxy, host, port), bounds.request)) {
    return {error, ProxyUnreachable(proxy, "sending CONNECT: " + Said(error, "timed out"))};
  }
  ConnectOutcome tunnel =
      ReadProxyAnswer(socket, proxy, host, port, ClientSocket::Clock::now() + bounds.header);
  if (tunnel.error || tunnel.refusal.kind != Refusal::Kind::None) return tunnel;
  if (const auto error = socket.StartTls(bounds.connect)) {
    return {error, DirectRefusal(socket, error, host, port)};
  }
  return {};
}

}  // namespace tarno
