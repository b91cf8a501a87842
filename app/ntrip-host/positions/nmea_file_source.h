// Replays an NMEA log, or reads a pipe of NMEA as it comes: each Next() consumes one epoch (the
// sentences sharing one UTC time).
#pragma once

#include "common/input_file.h"
#include "positions/nmea_line_stats.h"
#include "positions/nmea_position.h"
#include "positions/position_source.h"

#include <deque>
#include <memory>
#include <mutex>

namespace ntrip_host {

// An epoch whose GGA is missing, bad or without a fix gives no sample for its second. Sentences
// without a time (GSV, RMC is not read, ...) belong to the epoch they follow. At the end of the
// file the last position is held, as with a CSV file.
class NmeaFilePositionSource : public PositionSource {
 public:
  // Throws OptionError when the file cannot be opened.
  explicit NmeaFilePositionSource(const std::string& path);
  std::optional<PositionSample> Next() override;
  PositionCounters Counters() const override;
  std::string Description() const override;

 private:
  // Reads and parses one more chunk into pending_; false at end of file.
  bool ReadMore();

  const std::string path_;
  InputStream file_;
  bool at_end_ = false;
  NmeaInput input_;
  std::deque<NmeaParse> pending_;
  NmeaPositionTracker tracker_;
  std::optional<PositionSample> last_;
  mutable std::mutex mutex_;
  PositionCounters counters_;
};

}  // namespace ntrip_host
