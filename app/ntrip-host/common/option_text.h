// Parsing of the program's option values (positions, endpoints, serial devices). Every failure is
// an OptionError whose text names the option value and what is wrong with it.
#pragma once

#include "common/position_sample.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ntrip_host {

class OptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr unsigned kDefaultSerialBaud = 115200;

struct HostPort {
  std::string host;  // without brackets; empty when the text gave none
  unsigned short port = 0;
};

struct SerialDevice {
  std::string device;
  unsigned baud = kDefaultSerialBaud;
};

// "LAT,LON,ALT,ACC": four finite decimal numbers, latitude -90 to 90, longitude -180 to 180,
// accuracy >= 0. Throws OptionError with `what` as the context ("--position", "positions.csv:12").
PositionSample ParsePositionText(std::string_view text, std::string_view what);

// "HOST:PORT" or "[IPV6]:PORT"; with `host_optional`, a bare "PORT" too. Port 0 is refused
// unless `allow_port_zero` (listening on a port the system picks).
HostPort ParseHostPort(std::string_view text, bool host_optional, bool allow_port_zero,
                       std::string_view what);

// "serial:DEVICE[:BAUD]" -> port_setting; nullopt when the text does not start with "serial:".
std::optional<SerialDevice> ParseSerialDevice(std::string_view text, std::string_view what);

// Text from a file or a caster as it may be shown on a terminal: control characters as JSON
// writes them (\n, \t, \u001b ...), the rest unchanged.
std::string Escaped(std::string_view text);

// A C0 control character or DEL.
bool IsControlByte(char c);

}  // namespace ntrip_host
