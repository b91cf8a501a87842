#pragma once
// An HTTP proxy on the way to the caster: its address and credentials, the CONNECT request that
// opens a tunnel through it, and the judgement of its answer. Pure code over text; the socket
// step is in the stream opener.
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

#include "caster_response.h"

namespace tarno {

struct HttpProxy {
  std::string host;                // empty: no proxy, the caster is reached directly
  std::string port;                // decimal text
  std::string username, password;  // empty user name: no Proxy-Authorization

  bool Enabled() const { return !host.empty(); }
  // "HOST:PORT" as the user wrote it (an IPv6 literal in brackets).
  std::string Label() const;
};

// The `proxy` property: empty, or HOST:PORT (an IPv6 literal in brackets). The reason names the
// property; empty when accepted.
std::string CheckProxy(std::string_view value);
// The `proxy_username` property: as `username`, Basic authentication's rule.
std::string CheckProxyUsername(std::string_view value);
// The proxy of an accepted `proxy` value (no credentials); an empty value gives none.
HttpProxy ParseProxy(std::string_view value);

// CONNECT HOST:PORT HTTP/1.1 with Host, and Proxy-Authorization when a proxy user is set.
std::string ProxyConnectRequest(const HttpProxy& proxy, std::string_view caster_host,
                                std::string_view caster_port);

// Kind None for a 2xx from an HTTP proxy; otherwise why there is no tunnel.
Refusal JudgeProxyAnswer(const ResponseHead& head, const HttpProxy& proxy,
                         std::string_view caster_host, std::string_view caster_port);
// The proxy cannot be reached, or its answer never came whole.
Refusal ProxyUnreachable(const HttpProxy& proxy, std::string_view what);
// A proxy that sent bytes of its own after its 200: the caster speaks only once asked.
Refusal ProxyExtraBytes(const HttpProxy& proxy, std::size_t bytes);
// A proxy name the resolver does not know.
Refusal UnresolvedProxy(const HttpProxy& proxy, std::string_view description);

}  // namespace tarno
