#pragma once
// One exchange with a caster, for the stream request and the sourcetable fetch alike: resolve
// the first hop, connect (straight, or to a proxy that then opens a tunnel, with the TLS
// handshake when the socket uses TLS), send the request, read and judge the answer's head.
// Every wait bounded by the client's timing; every failure a Refusal worded here or in the
// answer's judgement. The socket stays the caller's: a Close from another thread ends any step.
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include "caster_response.h"
#include "client_socket.h"
#include "client_timing.h"
#include "http_proxy.h"

namespace tarno {

using CasterEndpoints = boost::asio::ip::tcp::resolver::results_type;

// The endpoints of the first hop: the proxy's when one is set (a caster behind a proxy is the
// proxy's to resolve), the caster's otherwise. Ports are numbers: no service name is looked up.
CasterEndpoints ResolveCaster(std::string_view host, std::string_view port, const HttpProxy& proxy,
                              boost::system::error_code& error);
// Why the first hop did not resolve.
Refusal ResolutionRefusal(const boost::system::error_code& error, std::string_view host,
                          const HttpProxy& proxy);

// Makes the socket's connections TLS, verified against `host`; a CA file that cannot be loaded
// is the refusal (kind None otherwise).
Refusal UseTlsFor(ClientSocket& socket, const std::string& host, const std::string& ca_file);

struct ConnectOutcome {
  boost::system::error_code error;  // what the network said, for the log
  Refusal refusal;                  // kind None once the socket reaches the caster
};

ConnectOutcome ConnectToCaster(ClientSocket& socket, const CasterEndpoints& endpoints,
                               const HttpProxy& proxy, std::string_view host, std::string_view port,
                               const ClientTiming& timing);

// What the answer must announce for the exchange to go on.
enum class Asked { Stream, Sourcetable };

struct CasterAnswer {
  boost::system::error_code error;  // a write or read that failed, for the log
  Refusal refusal;                  // kind None when what was asked follows the head
  // The head, partial when the answer never came whole, and the bytes read after it.
  ResponseHeadReader reader;
};

// Sends `request` and reads the answer's head within the header bound. `subject` is what was
// asked, as the refusal names it: the mount point, or kSourcetableSubject.
CasterAnswer AskCaster(ClientSocket& socket, std::string_view request, Asked asked,
                       std::string_view host, std::string_view port, std::string_view subject,
                       const ClientTiming& timing);

}  // namespace tarno
