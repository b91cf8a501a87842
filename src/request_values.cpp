#include "request_values.h"

#include <boost/asio/ip/address.hpp>

#include "caster_response.h"

namespace tarno {

namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

std::string Refused(std::string_view property, std::string_view value, std::string_view rule) {
  return std::string(property) + " \"" + PrintableStatusLine(value) +
         "\" is refused: " + std::string(rule);
}

bool IsIpLiteral(std::string_view text, bool* v6) {
  boost::system::error_code error;
  const auto address = boost::asio::ip::make_address(std::string(text), error);
  if (error) return false;
  *v6 = address.is_v6();
  return true;
}

bool IsHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  std::size_t label = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '.') {
      // An empty label is allowed only as the root's final dot ("caster.example.net.").
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!allowed || ++label > 63) return false;
    if (c == '-' && (label == 1 || i + 1 == name.size() || name[i + 1] == '.')) return false;
  }
  return true;
}

}  // namespace

std::string CheckMountpoint(std::string_view value) {
  constexpr std::string_view kRule =
      "a mount point is one path segment of printable ASCII without spaces, \"?\", \"#\" or "
      "\"/\" (casters use letters, digits, \"_\", \"-\" and \".\")";
  if (value.empty()) return Refused("mountpoint", value, "it is empty; " + std::string(kRule));
  if (value == "." || value == "..") return Refused("mountpoint", value, kRule);
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (IsControl(u) || u >= 0x80 || c == ' ' || c == '?' || c == '#' || c == '/') {
      return Refused("mountpoint", value, kRule);
    }
  }
  return {};
}

std::string CheckCasterHost(std::string_view value) {
  constexpr std::string_view kRule =
      "give a host name (letters, digits, \"-\", \"_\", \".\") or an IPv4 or IPv6 address, "
      "without spaces";
  if (value.empty()) return Refused("ip", value, "it is empty; " + std::string(kRule));
  bool v6 = false;
  if (value.size() > 2 && value.front() == '[' && value.back() == ']') {
    if (IsIpLiteral(value.substr(1, value.size() - 2), &v6) && v6) return {};
    return Refused("ip", value, "brackets hold an IPv6 address only");
  }
  if (IsIpLiteral(value, &v6) || IsHostName(value)) return {};
  return Refused("ip", value, kRule);
}

std::string CheckPort(std::string_view value) {
  constexpr std::string_view kRule =
      "a port is a decimal number from 1 to 65535, digits only (no sign, spaces or leading zero)";
  if (value.empty() || value.size() > 5 || value.front() == '0') {
    return Refused("port", value, kRule);
  }
  unsigned number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return Refused("port", value, kRule);
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number > 65535) return Refused("port", value, kRule);
  return {};
}

std::string CheckUsername(std::string_view value) {
  for (const char c : value) {
    if (c == ':' || IsControl(static_cast<unsigned char>(c))) {
      return Refused("username", value,
                     "Basic authentication cannot carry \":\" or control characters in a user "
                     "name");
    }
  }
  return {};
}

std::string BareHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return std::string(host.substr(1, host.size() - 2));
  }
  return std::string(host);
}

std::string HostHeaderValue(std::string_view host) {
  const std::string bare = BareHost(host);
  bool v6 = false;
  if (IsIpLiteral(bare, &v6) && v6) return "[" + bare + "]";
  return bare;
}

}  // namespace tarno
