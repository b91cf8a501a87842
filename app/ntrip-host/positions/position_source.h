// Where the program's positions come from: a fixed position, a CSV file, or NMEA from a file, a
// TCP stream or a serial port. The caller asks for one sample a second; the sources do not pace.
#pragma once

#include "positions/nmea_sentence.h"
#include "common/position_sample.h"
#include "common/program_log.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ntrip_host {

struct PositionCounters {
  std::uint64_t sentences_read = 0;      // NMEA sentences (0 for fixed and CSV sources)
  std::uint64_t positions_produced = 0;  // samples handed out by Next()
  // Bytes between sentences that belong to other protocols on the receiver's port.
  std::uint64_t other_bytes = 0;
  // Sentences by outcome, indexed by NmeaStatus; the bad ones are the malformed and over-long.
  std::array<std::uint64_t, kNmeaStatusCount> by_status{};

  std::uint64_t Count(NmeaStatus status) const { return by_status[static_cast<int>(status)]; }
  std::uint64_t BadSentences() const;
  // "sentences 12, positions 3, other bytes 5120, no-fix 2, bad: bad-checksum 1" (each part
  // after the positions only when not zero).
  std::string Summary() const;
};

class PositionSource {
 public:
  virtual ~PositionSource() = default;

  // The sample for the coming second, or nothing this second (no fix yet, receiver silent, an
  // epoch without a usable GGA). Called about once a second from one thread; returns promptly.
  virtual std::optional<PositionSample> Next() = 0;

  // Safe to call from any thread.
  virtual PositionCounters Counters() const = 0;

  // What the source reads, for the start-up report ("NMEA over tcp://127.0.0.1:5000").
  virtual std::string Description() const = 0;
};

enum class PositionOption {
  kFixed,    // --position LAT,LON,ALT,ACC
  kCsvFile,  // --positions FILE
  kNmea,     // --nmea FILE | tcp://HOST:PORT | serial:DEVICE[:BAUD]
};

struct LiveNmeaSettings {
  // A live position not refreshed by a GGA for this long is no longer handed out.
  std::chrono::milliseconds stale_after{3000};
  std::chrono::milliseconds connect_timeout{5000};
  // A TCP stream silent this long is taken as dead and reconnected.
  std::chrono::milliseconds idle_timeout{10000};
  std::chrono::milliseconds first_retry{1000};
  std::chrono::milliseconds max_retry{30000};
  LogFunction log;  // empty: stderr
};

// Builds the source an option asks for. Bad option text, an unreadable file or a CSV line that
// is not a position throw OptionError before anything starts. Live sources (tcp, serial) start
// their reader thread here and keep retrying in the background when the receiver is away.
std::unique_ptr<PositionSource> MakePositionSource(PositionOption option, std::string_view text,
                                                   const LiveNmeaSettings& live = {});

}  // namespace ntrip_host
