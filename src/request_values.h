#pragma once
// The values that go into the request to the caster. A value that would change the request's
// meaning (a second header line, another path, a port that wraps) is refused before anything
// connects. Each check returns the reason, naming the property, or an empty text when the value
// is accepted.
#include <string>
#include <string_view>

namespace tarno {

// One path segment of printable ASCII without spaces, "?", "#", "/" (not "." or "..").
std::string CheckMountpoint(std::string_view value);
// A host name (letters, digits, "-", "_", ".") or an IPv4/IPv6 literal; an IPv6 literal may be
// written in brackets. Nothing around it: surrounding spaces are refused, not trimmed.
std::string CheckCasterHost(std::string_view value);
// A decimal number from 1 to 65535: digits only, no sign, no leading zero.
std::string CheckPort(std::string_view value);
// Anything but ":" and control characters, which Basic authentication cannot carry; empty: none.
std::string CheckUsername(std::string_view value);

// The host without the brackets an IPv6 literal may be written in (what the resolver takes).
std::string BareHost(std::string_view host);
// The host as the Host header carries it: an IPv6 literal in brackets.
std::string HostHeaderValue(std::string_view host);

}  // namespace tarno
