#include "positions/nmea_line_stats.h"
#include "positions/position_source.h"

namespace ntrip_host {
namespace {

// Sentences the program could not read; one of another type or without a fix is well formed.
bool IsBad(NmeaStatus status) {
  return status != NmeaStatus::kOk && status != NmeaStatus::kIgnored &&
         status != NmeaStatus::kNoFix;
}

}  // namespace

std::uint64_t PositionCounters::BadSentences() const {
  std::uint64_t bad = 0;
  for (int i = 0; i < kNmeaStatusCount; ++i) {
    if (IsBad(static_cast<NmeaStatus>(i))) bad += by_status[i];
  }
  return bad;
}

std::string PositionCounters::Summary() const {
  std::string text = "sentences " + std::to_string(sentences_read) + ", positions " +
                     std::to_string(positions_produced);
  if (other_bytes != 0) text += ", other bytes " + std::to_string(other_bytes);
  if (Count(NmeaStatus::kNoFix) != 0) {
    text += ", no-fix " + std::to_string(Count(NmeaStatus::kNoFix));
  }
  if (BadSentences() == 0) return text;
  text += ", bad:";
  bool first = true;
  for (int i = 0; i < kNmeaStatusCount; ++i) {
    const auto status = static_cast<NmeaStatus>(i);
    if (!IsBad(status) || by_status[i] == 0) continue;
    text += first ? " " : ", ";
    first = false;
    text += NmeaStatusName(status);
    text += ' ';
    text += std::to_string(by_status[i]);
  }
  return text;
}

std::optional<NmeaParse> ParseAndCount(std::string_view line, bool too_long,
                                       PositionCounters& counters) {
  if (!too_long) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) return std::nullopt;
  }
  ++counters.sentences_read;
  NmeaParse parse;
  if (too_long) {
    parse.status = NmeaStatus::kTooLong;
  } else {
    parse = ParseNmeaLine(line);
  }
  ++counters.by_status[static_cast<int>(parse.status)];
  return parse;
}

}  // namespace ntrip_host
