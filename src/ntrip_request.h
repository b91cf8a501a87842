#pragma once
// The request a caster receives, for a stream and for the sourcetable alike, so that both carry
// the same headers.
#include <string>

namespace tarno {

// `path` is sent after the "/" unchanged (empty for the sourcetable). `credential` is
// BasicCredential's text, empty for none. NTRIP 2.0: an IPv6 literal `host` goes into Host in
// brackets, and an empty `gga` leaves the GGA header out (a sentence ends with its own CR LF).
// `ntrip1`: the NTRIP 1.0 request, for casters that refuse the 2.0 one: no Host, no NTRIP
// version, no GGA header (the first sentence follows the caster's answer in the stream).
std::string NtripRequest(const std::string& path, const std::string& host,
                         const std::string& credential, const std::string& gga, bool ntrip1);

}  // namespace tarno
