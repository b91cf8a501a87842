#include "positions/static_sources.h"

#include "common/decimal_text.h"
#include "common/option_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace ntrip_host {

std::optional<PositionSample> FixedPositionSource::Next() {
  std::scoped_lock lock(mutex_);
  ++counters_.positions_produced;
  return sample_;
}

PositionCounters FixedPositionSource::Counters() const {
  std::scoped_lock lock(mutex_);
  return counters_;
}

std::string FixedPositionSource::Description() const {
  return "fixed position " + std::to_string(sample_[0]) + "," + std::to_string(sample_[1]) + "," +
         std::to_string(sample_[2]) + " accuracy " + std::to_string(sample_[3]) + " m";
}

CsvPositionSource::CsvPositionSource(const std::string& path) : path_(path) {
  std::ifstream file(path);
  if (!file) {
    throw OptionError("--positions: '" + path + "': cannot open: " + std::strerror(errno));
  }
  std::string line;
  std::size_t number = 0;
  while (std::getline(file, line)) {
    ++number;
    const std::string_view text = TrimSpaces(line);
    if (text.empty() || text.front() == '#') continue;
    samples_.push_back(ParsePositionText(text, path + ":" + std::to_string(number)));
  }
  if (file.bad()) throw OptionError("--positions: '" + path + "': read error");
  if (samples_.empty()) throw OptionError("--positions: '" + path + "': no positions in file");
}

std::optional<PositionSample> CsvPositionSource::Next() {
  std::scoped_lock lock(mutex_);
  ++counters_.positions_produced;
  const PositionSample& sample = samples_[next_];
  if (next_ + 1 < samples_.size()) ++next_;
  return sample;
}

PositionCounters CsvPositionSource::Counters() const {
  std::scoped_lock lock(mutex_);
  return counters_;
}

std::string CsvPositionSource::Description() const {
  return "positions from " + path_ + " (" + std::to_string(samples_.size()) + " lines)";
}

}  // namespace ntrip_host
