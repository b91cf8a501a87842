#include "ntrip_request.h"

namespace tarno {

std::string NtripRequest(const std::string& path, const std::string& host,
                         const std::string& credential, const std::string& gga) {
  // Casters refuse requests without an NTRIP user agent.
  std::string request = "GET /" + path + " HTTP/1.1\r\n" + "Host: " + host + "\r\n" +
                        "Authorization: Basic " + credential + "\r\n" +
                        "Ntrip-Version: Ntrip/2.0\r\n" + "User-Agent: NTRIP NTRIP_Client/1.0\r\n";
  if (!gga.empty()) request += "Ntrip-GGA:" + gga + "\r\n";
  return request + "\r\n";
}

}  // namespace tarno
