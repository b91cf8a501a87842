#pragma once
// The request a caster receives, for a stream and for the sourcetable alike, so that both carry
// the same headers.
#include <string>

namespace tarno {

// `path` is sent after the "/" unchanged (empty for the sourcetable). `credential` is the Base64
// text of "user:password", empty for none. An IPv6 literal `host` goes into Host in brackets. An empty `gga` leaves the GGA header out; a sentence ends with its
// own CR LF.
std::string NtripRequest(const std::string& path, const std::string& host,
                         const std::string& credential, const std::string& gga);

// The NTRIP 1.0 request, for casters that refuse the 2.0 one: no Host, no NTRIP version, no GGA
// header (the first sentence follows the caster's answer in the stream).
std::string Ntrip1Request(const std::string& path, const std::string& credential);

}  // namespace tarno
