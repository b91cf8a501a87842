#include "positions/live_nmea_source.h"
#include "positions/nmea_file_source.h"
#include "common/option_text.h"
#include "positions/static_sources.h"

namespace ntrip_host {

std::unique_ptr<PositionSource> MakePositionSource(PositionOption option, std::string_view text,
                                                   const LiveNmeaSettings& live) {
  switch (option) {
    case PositionOption::kFixed:
      return std::make_unique<FixedPositionSource>(ParsePositionText(text, "--position"));
    case PositionOption::kCsvFile:
      if (text.empty()) throw OptionError("--positions: expected a file name");
      return std::make_unique<CsvPositionSource>(std::string(text));
    case PositionOption::kNmea:
      break;
  }
  if (text.empty()) {
    throw OptionError("--nmea: expected FILE, tcp://HOST:PORT or serial:DEVICE[:BAUD]");
  }
  constexpr std::string_view kTcp = "tcp://";
  if (text.substr(0, kTcp.size()) == kTcp) {
    return LiveNmeaSource::Tcp(ParseHostPort(text.substr(kTcp.size()), false, false, "--nmea"),
                               live);
  }
  if (auto serial = ParseSerialDevice(text, "--nmea")) {
    return LiveNmeaSource::Serial(std::move(*serial), live);
  }
  if (text.find("://") != std::string_view::npos) {
    throw OptionError("--nmea: '" + std::string(text) +
                      "': unknown scheme; expected FILE, tcp://HOST:PORT or serial:DEVICE[:BAUD]");
  }
  return std::make_unique<NmeaFilePositionSource>(std::string(text));
}

}  // namespace ntrip_host
