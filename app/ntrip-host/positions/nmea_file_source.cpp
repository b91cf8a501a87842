#include "positions/nmea_file_source.h"

#include "common/option_text.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace ntrip_host {

namespace {

InputStream OpenStream(const std::string& path) {
  try {
    return InputStream(path);
  } catch (const InputFileError& error) {
    throw OptionError("--nmea: " + Escaped(error.what()));
  }
}

}  // namespace

NmeaFilePositionSource::NmeaFilePositionSource(const std::string& path)
    : path_(path), file_(OpenStream(path)) {}

bool NmeaFilePositionSource::ReadMore() {
  if (at_end_) return false;
  std::array<char, 4096> chunk;
  std::size_t got = 0;
  try {
    got = file_.Read(chunk.data(), chunk.size());
  } catch (const InputFileError&) {
    got = 0;  // a read error ends the replay as its end would: the last position is held
  }
  const auto keep = [this](const NmeaParse& parse) { pending_.push_back(parse); };
  if (got == 0 && !file_.IsRegularFile()) return false;  // a pipe: more may come later
  input_.Feed(std::string_view(chunk.data(), got), counters_, keep);
  if (got == 0) {
    input_.Finish(counters_, keep);
    at_end_ = true;
  }
  return true;
}

std::optional<PositionSample> NmeaFilePositionSource::Next() {
  std::scoped_lock lock(mutex_);
  std::optional<UtcMillis> epoch;
  bool epoch_has_fix = false;
  while (true) {
    if (pending_.empty()) {
      if (!ReadMore()) break;
      continue;
    }
    const NmeaParse& parse = pending_.front();
    // The first timed sentence of the next epoch stays for the next call.
    if (parse.utc && epoch && *parse.utc != *epoch) break;
    if (parse.utc && !epoch) epoch = parse.utc;
    tracker_.Feed(parse);
    if (parse.status == NmeaStatus::kOk && std::holds_alternative<GgaFix>(parse.sentence)) {
      epoch_has_fix = true;
    } else if (parse.status == NmeaStatus::kNoFix) {
      epoch_has_fix = false;
    }
    pending_.pop_front();
  }
  if (epoch) {
    // A file ending in an epoch without a fix holds "no position", not an older one.
    last_ = epoch_has_fix ? tracker_.Current() : std::nullopt;
    if (!last_) return std::nullopt;
  }
  if (last_) ++counters_.positions_produced;
  return last_;
}

PositionCounters NmeaFilePositionSource::Counters() const {
  std::scoped_lock lock(mutex_);
  return counters_;
}

std::string NmeaFilePositionSource::Description() const {
  return "NMEA replay of " + path_;
}

}  // namespace ntrip_host
