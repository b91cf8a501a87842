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

}  // namespace tarno
