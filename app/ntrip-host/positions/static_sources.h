// Position sources that need no receiver: a fixed position and a CSV file of positions.
#pragma once

#include "common/input_file.h"
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
// one is held once the file is used up. A regular file is read and checked whole at
// construction; a pipe or FIFO is read a line per Next(), its bad lines skipped.
class CsvPositionSource : public PositionSource {
 public:
  // Throws OptionError naming the file and line of the first bad line, an empty regular file, or
  // a file that is neither regular nor a pipe.
  explicit CsvPositionSource(const std::string& path);
  std::optional<PositionSample> Next() override;
  PositionCounters Counters() const override;
  std::string Description() const override;

 private:
  // The next sample of a stream, if one more line holds one.
  std::optional<PositionSample> ReadSample();

  const std::string path_;
  InputStream file_;
  std::size_t line_number_ = 0;
  std::vector<PositionSample> samples_;
  std::size_t next_ = 0;
  mutable std::mutex mutex_;
  PositionCounters counters_;
};

}  // namespace ntrip_host
