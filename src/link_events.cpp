#include "link_events.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "request_values.h"

namespace tarno {

namespace {

constexpr std::string_view kConnecting = "Connecting to ";
constexpr std::string_view kConnected = "connected to ";
constexpr std::string_view kLost = "connection lost: ";
constexpr std::string_view kRetrying = "retrying in ";
constexpr std::string_view kSeconds = " s: ";
constexpr std::string_view kNotRtcm = "no RTCM 3 frame in the first ";

}  // namespace

std::string ConnectingEvent(std::string_view host, std::string_view port) {
  return std::string(kConnecting) + std::string(host) + ":" + std::string(port);
}

std::string Endpoint(std::string_view host, std::string_view port) {
  return HostHeaderValue(host) + ":" + std::string(port);
}

std::string ConnectedEvent(std::string_view host, std::string_view port, std::string_view mount,
                           std::string_view protocol, std::string_view proxy) {
  return std::string(kConnected) + Endpoint(host, port) + "/" + std::string(mount) +
         (proxy.empty() ? std::string() : " through proxy " + std::string(proxy)) + " (" +
         std::string(protocol) + ")";
}

std::string LostEvent(std::string_view cause) {
  return std::string(kLost) + std::string(cause);
}

std::string RetryingEvent(double seconds, std::string_view cause) {
  const long whole = static_cast<long>(std::ceil(std::max(0.0, seconds)));
  return std::string(kRetrying) + std::to_string(whole) + std::string(kSeconds) +
         std::string(cause);
}

std::string NotRtcmEvent(std::string_view mount, std::uint64_t bytes, std::string_view kind) {
  return std::string(kNotRtcm) + std::to_string(bytes) + " bytes from " + std::string(mount) +
         " (it looks like " + std::string(kind) + ")";
}

LinkEvent ParseLinkEvent(std::string_view text) {
  LinkEvent event;
  if (text.starts_with(kConnecting)) {
    event.kind = LinkEvent::Kind::Connecting;
    event.target = text.substr(kConnecting.size());
  } else if (text.starts_with(kConnected)) {
    const std::string_view rest = text.substr(kConnected.size());
    const std::size_t open = rest.rfind(" (");
    if (open == std::string_view::npos || !rest.ends_with(")")) return event;
    event.kind = LinkEvent::Kind::Connected;
    event.target = rest.substr(0, open);
    event.detail = rest.substr(open + 2, rest.size() - open - 3);
  } else if (text.starts_with(kLost)) {
    event.kind = LinkEvent::Kind::Lost;
    event.detail = text.substr(kLost.size());
  } else if (text.starts_with(kRetrying)) {
    const std::string_view rest = text.substr(kRetrying.size());
    const std::size_t unit = rest.find(kSeconds);
    if (unit == std::string_view::npos || unit == 0) return event;
    for (const char c : rest.substr(0, unit)) {
      if (c < '0' || c > '9') return event;
    }
    event.kind = LinkEvent::Kind::Retrying;
    event.wait_seconds = std::strtod(std::string(rest.substr(0, unit)).c_str(), nullptr);
    event.detail = rest.substr(unit + kSeconds.size());
  } else if (text.starts_with(kNotRtcm)) {
    event.kind = LinkEvent::Kind::NotRtcm;
    event.detail = text;
  }
  return event;
}

}  // namespace tarno
