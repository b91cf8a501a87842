#pragma once
// The component's connection events, worded in one place. The component reports them; a program
// that shows the link (ntrip-host's status) reads them back with ParseLinkEvent, never by
// matching copies of the words or by re-deriving the component's retry rule.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarno {

struct LinkEvent {
  // NotRtcm: the connection's stream flows but holds no RTCM 3 (said once per connection).
  enum class Kind { None, Connecting, Connected, Lost, Retrying, NotRtcm };
  Kind kind = Kind::None;
  std::string target;        // Connecting: HOST:PORT; Connected: HOST:PORT/MOUNT
  std::string detail;        // Connected: the protocol; Lost, Retrying: the cause
  double wait_seconds = 0;   // Retrying: the pause before the next set-up
};

// "HOST:PORT" as the program's own lines show a caster: an IPv6 literal in brackets.
std::string Endpoint(std::string_view host, std::string_view port);

// "Connecting to HOST:PORT", the host as given
std::string ConnectingEvent(std::string_view host, std::string_view port);
// "connected to HOST:PORT/MOUNT (PROTOCOL)", or with `proxy` ("P:Q"): "connected to
// HOST:PORT/MOUNT through proxy P:Q (PROTOCOL)"
std::string ConnectedEvent(std::string_view host, std::string_view port, std::string_view mount,
                           std::string_view protocol, std::string_view proxy = {});
// "connection lost: CAUSE"
std::string LostEvent(std::string_view cause);
// "retrying in N s: CAUSE", N the whole seconds rounded up
std::string RetryingEvent(double seconds, std::string_view cause);
// "no RTCM 3 frame in the first N bytes from MOUNT (it looks like KIND)"
std::string NotRtcmEvent(std::string_view mount, std::uint64_t bytes, std::string_view kind);

// The event a report's text carries; kind None for any other text.
LinkEvent ParseLinkEvent(std::string_view text);

}  // namespace tarno
