#include "common/option_text.h"

#include "common/decimal_text.h"

#include <array>
#include <cstdio>

namespace ntrip_host {
namespace {

[[noreturn]] void Refuse(std::string_view what, std::string_view text, std::string_view why) {
  std::string message(what);
  message += ": '";
  message += text;
  message += "': ";
  message += why;
  throw OptionError(message);
}

}  // namespace

PositionSample ParsePositionText(std::string_view text, std::string_view what) {
  std::array<double, 4> values{};
  std::string_view rest = text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto comma = rest.find(',');
    const bool last = i + 1 == values.size();
    if (last != (comma == std::string_view::npos)) {
      Refuse(what, text, "expected four comma-separated numbers LAT,LON,ALT,ACC");
    }
    const auto value = ParseDecimal(TrimSpaces(rest.substr(0, comma)), true);
    if (!value) {
      static constexpr std::array<std::string_view, 4> kNames = {"latitude", "longitude",
                                                                 "altitude", "accuracy"};
      Refuse(what, text, std::string(kNames[i]) + " is not a decimal number");
    }
    values[i] = *value;
    if (!last) rest.remove_prefix(comma + 1);
  }
  // The component cannot use a position outside these ranges: it would fail on every sample.
  if (!(values[0] >= -90 && values[0] <= 90)) Refuse(what, text, "latitude must be -90 to 90");
  if (!(values[1] >= -180 && values[1] <= 180)) {
    Refuse(what, text, "longitude must be -180 to 180");
  }
  if (values[3] < 0) Refuse(what, text, "accuracy must not be negative");
  return MakeSample(values[0], values[1], values[2], values[3]);
}

HostPort ParseHostPort(std::string_view text, bool host_optional, bool allow_port_zero,
                       std::string_view what) {
  HostPort result;
  std::string_view port_text;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close == 1) Refuse(what, text, "bad [IPv6] address");
    result.host = std::string(text.substr(1, close - 1));
    if (close + 1 >= text.size() || text[close + 1] != ':') Refuse(what, text, "missing :PORT");
    port_text = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      if (!host_optional) Refuse(what, text, "expected HOST:PORT");
      port_text = text;
    } else {
      result.host = std::string(text.substr(0, colon));
      if (result.host.find(':') != std::string::npos) {
        Refuse(what, text, "an IPv6 address must be written in brackets, [ADDR]:PORT");
      }
      if (result.host.empty()) Refuse(what, text, "empty host");
      port_text = text.substr(colon + 1);
    }
  }
  const auto port = ParseUnsigned(port_text, 65535);
  if (!port || (*port == 0 && !allow_port_zero)) {
    Refuse(what, text, "port must be a number from 1 to 65535");
  }
  result.port = static_cast<unsigned short>(*port);
  return result;
}

std::optional<SerialDevice> ParseSerialDevice(std::string_view text, std::string_view what) {
  constexpr std::string_view kPrefix = "serial:";
  if (text.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  std::string_view rest = text.substr(kPrefix.size());
  SerialDevice port_setting;
  const auto colon = rest.rfind(':');
  if (colon != std::string_view::npos) {
    const auto baud = ParseUnsigned(rest.substr(colon + 1), 4'000'000);
    if (!baud || *baud < 50) Refuse(what, text, "baud rate must be a number from 50 to 4000000");
    port_setting.baud = static_cast<unsigned>(*baud);
    rest = rest.substr(0, colon);
  }
  if (rest.empty()) Refuse(what, text, "expected serial:DEVICE[:BAUD]");
  port_setting.device = std::string(rest);
  return port_setting;
}

bool IsControlByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (!IsControlByte(c)) {
      out += c;
      continue;
    }
    switch (c) {
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        out += escaped;
      }
    }
  }
  return out;
}

}  // namespace ntrip_host
