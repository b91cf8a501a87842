#pragma once
// The way to a caster, one for the stream request and the sourcetable fetch: a TCP connect,
// straight or to a proxy that then opens a tunnel, and the TLS handshake when the socket uses
// TLS. Every wait bounded; every failure a Refusal.
#include <chrono>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include "caster_response.h"
#include "client_socket.h"
#include "http_proxy.h"

namespace tarno {

struct ConnectBounds {
  std::chrono::nanoseconds connect = std::chrono::seconds(10);  // the TCP connect, the handshake
  std::chrono::nanoseconds request = std::chrono::seconds(10);  // the CONNECT request's write
  std::chrono::nanoseconds header = std::chrono::seconds(10);   // the proxy's whole answer
};

struct ConnectOutcome {
  boost::system::error_code error;  // what the network said, for the log
  Refusal refusal;                  // kind None once the socket reaches the caster
};

// `endpoints` are the proxy's when one is set, the caster's otherwise (a caster behind a proxy
// is resolved by the proxy).
ConnectOutcome ConnectToCaster(ClientSocket& socket,
                               const boost::asio::ip::tcp::resolver::results_type& endpoints,
                               const HttpProxy& proxy, std::string_view host, std::string_view port,
                               const ConnectBounds& bounds);

}  // namespace tarno
