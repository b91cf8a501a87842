#include "runner/nmea_line_stats.h"
#include "runner/position_source.h"

namespace runner {

std::uint64_t PositionCounters::BadSentences() const {
  std::uint64_t bad = 0;
  for (int i = 0; i < kNmeaStatusCount; ++i) {
    const auto status = static_cast<NmeaStatus>(i);
    if (status != NmeaStatus::kOk && status != NmeaStatus::kIgnored) bad += by_status[i];
  }
  return bad;
}

std::string PositionCounters::Summary() const {
  std::string text = "sentences " + std::to_string(sentences_read) + ", positions " +
                     std::to_string(positions_produced);
  if (BadSentences() == 0) return text;
  text += ", bad:";
  bool first = true;
  for (int i = 0; i < kNmeaStatusCount; ++i) {
    const auto status = static_cast<NmeaStatus>(i);
    if (status == NmeaStatus::kOk || status == NmeaStatus::kIgnored || by_status[i] == 0) continue;
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

}  // namespace runner
