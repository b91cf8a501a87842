#include "utils.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <algorithm>

#include "log.h"

namespace tarno {

bool IsInternetAvailable(const CommandRunner& runner) {
  const std::string output = runner(ProbeCommandLine(kProbeHost));
  if (output.find("TTL=") != std::string::npos) return true;
  WriteLog("Couldn't reach the IP", Importance::Error);
  WriteLog("Please check the IP Address", Importance::Error);
  return false;
}

std::vector<std::string> ResolveHost(const std::string& host) {
  std::vector<std::string> addresses;
  boost::asio::io_context io;
  boost::asio::ip::tcp::resolver resolver(io);
  boost::system::error_code error;
  // The same lookup the client makes before it connects, so both see the same addresses.
  const auto results = resolver.resolve(host, "0", boost::asio::ip::tcp::resolver::numeric_service, error);
  if (error) return addresses;
  for (const auto& entry : results) addresses.push_back(entry.endpoint().address().to_string());
  return addresses;
}

bool IsLocalAddress(const std::string& text) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(text, ec);
  if (ec) return false;
  if (address.is_v4()) {
    const auto b = address.to_v4().to_bytes();
    return b[0] == 127 || b[0] == 10 || (b[0] == 172 && (b[1] & 0xF0) == 16) ||
           (b[0] == 192 && b[1] == 168) || (b[0] == 169 && b[1] == 254);
  }
  const auto v6 = address.to_v6();
  if (v6.is_v4_mapped())
    return IsLocalAddress(
        boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string());
  const auto b = v6.to_bytes();
  return v6.is_loopback() || v6.is_link_local() || (b[0] & 0xFE) == 0xFC;
}

bool IsLocalCasterAddress(const std::string& host, const HostResolver& resolve) {
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
    bare = bare.substr(1, bare.size() - 2);
  if (bare.empty()) return false;
  const std::vector<std::string> addresses = resolve(bare);
  // A name with one public address among its local ones may be reached over the internet.
  return !addresses.empty() &&
         std::all_of(addresses.begin(), addresses.end(),
                     [](const std::string& address) { return IsLocalAddress(address); });
}

}  // namespace tarno
