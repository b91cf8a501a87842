#include "positions/static_sources.h"

#include "common/decimal_text.h"
#include "common/option_text.h"

#include <cerrno>
#include <cstring>

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

namespace {

// Far longer than any "lat,lon,alt,acc" line: a file without line ends is refused, not read whole.
constexpr std::size_t kLongestCsvLine = 1024;

InputStream OpenCsv(const std::string& path) {
  try {
    return InputStream(path);
  } catch (const InputFileError& error) {
    throw OptionError("--positions: " + Escaped(error.what()));
  }
}

}  // namespace

CsvPositionSource::CsvPositionSource(const std::string& path) : path_(path), file_(OpenCsv(path)) {
  if (!file_.IsRegularFile()) return;
  try {
    std::string line;
    while (file_.ReadLine(line, kLongestCsvLine)) {
      ++line_number_;
      const std::string_view text = TrimSpaces(line);
      if (text.empty() || text.front() == '#') continue;
      samples_.push_back(ParsePositionText(text, path + ":" + std::to_string(line_number_)));
    }
  } catch (const InputFileError& error) {
    throw OptionError("--positions: " + Escaped(error.what()));
  }
  if (samples_.empty()) throw OptionError("--positions: '" + path + "': no positions in file");
}

std::optional<PositionSample> CsvPositionSource::ReadSample() {
  std::string line;
  try {
    while (file_.ReadLine(line, kLongestCsvLine)) {
      ++line_number_;
      const std::string_view text = TrimSpaces(line);
      if (text.empty() || text.front() == '#') continue;
      try {
        return ParsePositionText(text, path_);
      } catch (const OptionError&) {
        continue;  // a writer's garbled line: the next one may do
      }
    }
  } catch (const InputFileError&) {
    // An endless line or a read error: the last position is held, as at a file's end.
  }
  return std::nullopt;
}

std::optional<PositionSample> CsvPositionSource::Next() {
  std::scoped_lock lock(mutex_);
  if (!file_.IsRegularFile()) {
    if (auto sample = ReadSample()) {
      samples_.assign(1, *sample);
    }
    if (samples_.empty()) return std::nullopt;
    ++counters_.positions_produced;
    return samples_.front();
  }
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
  if (!file_.IsRegularFile()) return "positions from " + path_ + " as they come";
  return "positions from " + path_ + " (" + std::to_string(samples_.size()) + " lines)";
}

}  // namespace ntrip_host
