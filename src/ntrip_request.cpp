#include "ntrip_request.h"

#include "request_values.h"

namespace tarno {

std::string NtripRequest(const std::string& path, const std::string& host,
                         const std::string& credential, const std::string& gga) {
  // Casters refuse requests without an NTRIP user agent. Without credentials there is no
  // Authorization line: a caster open to all needs none.
  std::string request =
      "GET /" + path + " HTTP/1.1\r\n" + "Host: " + HostHeaderValue(host) + "\r\n";
  if (!credential.empty()) request += "Authorization: Basic " + credential + "\r\n";
  request +=
      "Ntrip-Version: Ntrip/2.0\r\n"
      "User-Agent: NTRIP NTRIP_Client/1.0\r\n";
  if (!gga.empty()) request += "Ntrip-GGA:" + gga + "\r\n";
  return request + "\r\n";
}

std::string Ntrip1Request(const std::string& path, const std::string& credential) {
  std::string request = "GET /" + path + " HTTP/1.0\r\nUser-Agent: NTRIP NTRIP_Client/1.0\r\n";
  if (!credential.empty()) request += "Authorization: Basic " + credential + "\r\n";
  return request + "\r\n";
}

}  // namespace tarno
