// NMEA read live from a receiver over TCP (tcp://HOST:PORT) or a serial port. A reader thread,
// owned and joined here, keeps the latest position; Next() hands it out while it is fresh.
#pragma once

#include "common/option_text.h"
#include "positions/position_source.h"

#include <memory>

namespace ntrip_host {

class LiveNmeaSource : public PositionSource {
 public:
  // Both start the reader at once; failures to connect or open are logged and retried with a
  // doubling delay (first_retry .. max_retry), never thrown.
  static std::unique_ptr<LiveNmeaSource> Tcp(HostPort endpoint, const LiveNmeaSettings& settings);
  static std::unique_ptr<LiveNmeaSource> Serial(SerialDevice port_setting,
                                                const LiveNmeaSettings& settings);

  // Stops the reader promptly (whatever it is waiting for) and joins it.
  ~LiveNmeaSource() override;

  std::optional<PositionSample> Next() override;
  PositionCounters Counters() const override;
  std::string Description() const override;

  struct Impl;

 private:
  explicit LiveNmeaSource(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace ntrip_host
