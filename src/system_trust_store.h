#pragma once
// The certificate authorities the system trusts, for a TLS client context.
#include <string>

struct ssl_ctx_st;

namespace tarno {

// Adds the system's trusted authorities to `context`: OpenSSL's default locations on Linux, the
// "ROOT" certificate store on Windows (where OpenSSL's default locations are a folder of the
// machine it was built on). False, with the reason, when there is none to read.
bool LoadSystemTrustStore(ssl_ctx_st* context, std::string& reason);

}  // namespace tarno
