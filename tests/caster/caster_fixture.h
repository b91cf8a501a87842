// Shared set-up of the caster tests: options with a real recording, and request texts.
#pragma once

#include <string>

#include "replay_caster.h"

namespace caster_test {

inline std::string DataFile(const std::string& name) {
  return std::string(CASTER_TEST_DATA_DIR) + "/" + name;
}

inline std::string Recording() {
  return caster::ReadFileBytes(DataFile("pygpsdata-RTCM3.log"));
}

// Options with mount point RTCM3 serving the 11-frame recording as fast as possible.
inline caster::CasterOptions FastOptions() {
  caster::CasterOptions options;
  options.mounts.push_back({"RTCM3", Recording()});
  options.rate = 0;
  return options;
}

inline const std::string kGga1 =
    "$GPGGA,120000.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*47";
inline const std::string kGga2 =
    "$GPGGA,120010.00,4807.0390,N,01131.0010,E,1,08,0.9,545.5,M,46.9,M,,*4B";

// An NTRIP 2.0 request laid out as the client writes it (the GGA header line carries the
// sentence with its own CR LF, so three CR LF pairs end it).
inline std::string ClientRequest(const std::string& mount, const std::string& credential,
                                 const std::string& gga = kGga1) {
  return "GET /" + mount + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + credential +
         "\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP NTRIP_Client/1.0\r\nNtrip-GGA:" + gga +
         "\r\n\r\n\r\n";
}

inline std::string V2Request(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nNtrip-Version: Ntrip/2.0\r\n" +
         "User-Agent: NTRIP test/1.0\r\n" + extra + "\r\n";
}

inline std::string V1Request(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.0\r\nUser-Agent: NTRIP test/1.0\r\n" + extra + "\r\n";
}

}  // namespace caster_test
