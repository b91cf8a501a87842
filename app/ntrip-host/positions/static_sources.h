// Position sources that need no receiver: a fixed position and a CSV file of positions.
#pragma once

#include "positions/position_source.h"

#include <mutex>
#include <vector>

namespace ntrip_host {

class FixedPositionSource : public PositionSource {
 public:
  explicit FixedPositionSource(PositionSample sample) : sample_(std::move(sample)) {}
  std::optional<PositionSample> Next() override;
  PositionCounters Counters() const override;
  std::string Description() const override;

 private:
  const PositionSample sample_;
  mutable std::mutex mutex_;
  PositionCounters counters_;
};

// Lines "lat,lon,alt,acc"; '#' comments and blank lines skipped. One line per Next(); the last
// one is held once the file is used up. The whole file is read and checked at construction.
class CsvPositionSource : public PositionSource {
 public:
  // Throws OptionError naming the file and line of the first bad line, or an empty file.
  explicit CsvPositionSource(const std::string& path);
  std::optional<PositionSample> Next() override;
  PositionCounters Counters() const override;
  std::string Description() const override;

 private:
  const std::string path_;
  std::vector<PositionSample> samples_;
  std::size_t next_ = 0;
  mutable std::mutex mutex_;
  PositionCounters counters_;
};

}  // namespace ntrip_host
