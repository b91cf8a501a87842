#include "http_proxy.h"

#include "base64.h"
#include "request_values.h"

namespace tarno {

namespace {

// The host and port of "HOST:PORT" ("[V6]:PORT"); false when there is no ":" to split at.
bool Split(std::string_view value, std::string_view& host, std::string_view& port) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos) return false;
  host = value.substr(0, colon);
  port = value.substr(colon + 1);
  // An IPv6 literal without brackets has more colons: it cannot carry a port.
  return host.find(':') == std::string_view::npos || (host.starts_with('[') && host.ends_with(']'));
}

std::string CasterLabel(std::string_view host, std::string_view port) {
  return HostHeaderValue(host) + ":" + std::string(port);
}

}  // namespace

std::string HttpProxy::Label() const {
  return HostHeaderValue(host) + ":" + port;
}

std::string CheckProxy(std::string_view value) {
  if (value.empty()) return {};
  const std::string refused =
      "proxy \"" + PrintableStatusLine(value) +
      "\" is refused: give HOST:PORT (an IPv6 address in brackets), or leave it empty";
  std::string_view host, port;
  if (!Split(value, host, port)) return refused;
  if (!CheckCasterHost(host).empty() || !CheckPort(port).empty()) return refused;
  return {};
}

std::string CheckProxyUsername(std::string_view value) {
  const std::string reason = CheckUsername(value);
  // The rule is the user name's; only the property's name differs.
  return reason.empty() ? reason : "proxy_" + reason;
}

HttpProxy ParseProxy(std::string_view value) {
  HttpProxy proxy;
  std::string_view host, port;
  if (value.empty() || !Split(value, host, port)) return proxy;
  proxy.host = BareHost(host);
  proxy.port = port;
  return proxy;
}

std::string ProxyConnectRequest(const HttpProxy& proxy, std::string_view caster_host,
                                std::string_view caster_port) {
  const std::string target = CasterLabel(caster_host, caster_port);
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (const std::string credential = BasicCredential(proxy.username, proxy.password);
      !credential.empty()) {
    request += "Proxy-Authorization: Basic " + credential + "\r\n";
  }
  return request + "\r\n";
}

Refusal JudgeProxyAnswer(const ResponseHead& head, const HttpProxy& proxy,
                         std::string_view caster_host, std::string_view caster_port) {
  const bool http = head.status_line.starts_with("HTTP/1.");
  if (http && head.status >= 200 && head.status < 300) return {};
  if (http && head.status == 407) {
    return {Refusal::Kind::Credentials,
            "proxy " + proxy.Label() + " refused the user name or password"};
  }
  return {Refusal::Kind::Answer, "proxy " + proxy.Label() + " refused the tunnel to " +
                                     CasterLabel(caster_host, caster_port) + " (" +
                                     PrintableStatusLine(head.status_line) + ")"};
}

Refusal ProxyUnreachable(const HttpProxy& proxy, std::string_view what) {
  return {Refusal::Kind::Network,
          "proxy " + proxy.Label() + " cannot be used (" + std::string(what) + "): check proxy"};
}

Refusal ProxyExtraBytes(const HttpProxy& proxy, std::size_t bytes) {
  return {Refusal::Kind::Network, "proxy " + proxy.Label() + " sent " + std::to_string(bytes) +
                                      " bytes of its own after its 200 answer to CONNECT, before "
                                      "the caster was asked anything: check proxy"};
}

Refusal UnresolvedProxy(const HttpProxy& proxy, std::string_view description) {
  return {Refusal::Kind::Network, "proxy name " + proxy.host + " does not resolve (" +
                                      std::string(description) + "): check proxy"};
}

}  // namespace tarno
