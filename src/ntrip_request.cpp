#include "ntrip_request.h"

#include "request_values.h"

namespace tarno {

std::string NtripRequest(const std::string& path, const std::string& host,
                         const std::string& credential, const std::string& gga, bool ntrip1) {
  // Casters refuse requests without an NTRIP user agent. Without credentials there is no
  // Authorization line: a caster open to all needs none.
  constexpr const char* kUserAgent = "User-Agent: NTRIP NTRIP_Client/1.0\r\n";
  const std::string authorization =
      credential.empty() ? std::string() : "Authorization: Basic " + credential + "\r\n";
  std::string request = "GET /" + path + (ntrip1 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
  if (ntrip1) return request + kUserAgent + authorization + "\r\n";
  request += "Host: " + HostHeaderValue(host) + "\r\n" + authorization +
             "Ntrip-Version: Ntrip/2.0\r\n" + kUserAgent;
  if (!gga.empty()) request += "Ntrip-GGA:" + gga + "\r\n";
  return request + "\r\n";
}

}  // namespace tarno
