// NMEA lines through the runner's sentence parser and the position tracker that combines GGA
// and GST into samples.
//
// Input layout:
//   [0]  flags: 1 rewrite every line's "*HH" checksum to the right value before parsing (lets
//        mutations reach the field parsers instead of stopping at the checksum)
//   rest lines separated by LF
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "fuzz_input.h"
#include "runner/nmea_position.h"
#include "runner/nmea_sentence.h"

namespace {

using fuzzing::FuzzInput;

// "$body*HH": the checksum of body written into HH (appended when the line has no '*').
std::string WithRightChecksum(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  if (line.empty() || line.front() != '$') return std::string(line);
  const std::size_t star = line.rfind('*');
  const std::string_view body = line.substr(1, star == std::string_view::npos ? star : star - 1);
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string fixed = "$";
  fixed += body;
  fixed += '*';
  fixed += kHex[sum >> 4];
  fixed += kHex[sum & 15];
  return fixed;
}

void CheckParse(const runner::NmeaParse& parse) {
  FUZZ_CHECK(!runner::NmeaStatusName(parse.status).empty());
  FUZZ_CHECK(runner::NmeaStatusName(parse.status) != "unknown");
  constexpr runner::UtcMillis kLatest = runner::kMillisPerDay + 1000;  // leap second
  if (parse.utc) FUZZ_CHECK(*parse.utc >= 0 && *parse.utc <= kLatest);
  if (parse.status != runner::NmeaStatus::kOk) {
    FUZZ_CHECK(std::holds_alternative<std::monostate>(parse.sentence));
    return;
  }
  FUZZ_CHECK(parse.utc.has_value());
  if (const auto* gga = std::get_if<runner::GgaFix>(&parse.sentence)) {
    FUZZ_CHECK(gga->utc == *parse.utc);
    FUZZ_CHECK(std::fabs(gga->latitude_deg) <= 90.0);
    FUZZ_CHECK(std::fabs(gga->longitude_deg) <= 180.0);
    FUZZ_CHECK(std::isfinite(gga->altitude_msl_m));
    FUZZ_CHECK(gga->quality >= 1 && gga->quality <= 9);
  } else if (const auto* gst = std::get_if<runner::GstStatistics>(&parse.sentence)) {
    FUZZ_CHECK(gst->utc == *parse.utc);
    FUZZ_CHECK(gst->sd_latitude_m >= 0.0 && gst->sd_longitude_m >= 0.0);
    FUZZ_CHECK(!(gst->HorizontalAccuracy() < 0.0));
  } else {
    FUZZ_CHECK(!"kOk without a sentence");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool fix_checksums = (in.Byte() & 1) != 0;
  std::string_view text = in.Rest();

  runner::NmeaPositionTracker tracker;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);

    std::string fixed;
    if (fix_checksums) {
      fixed = WithRightChecksum(line);
      line = fixed;
    }
    const runner::NmeaParse parse = runner::ParseNmeaLine(line);
    CheckParse(parse);
    tracker.Feed(parse);
    if (const auto sample = tracker.Current()) {
      FUZZ_CHECK(sample->size() == 4);
      FUZZ_CHECK(std::fabs((*sample)[0]) <= 90.0 && std::fabs((*sample)[1]) <= 180.0);
      FUZZ_CHECK(!((*sample)[3] < 0.0));
    }

    // The field helpers on the line's own pieces.
    const std::size_t comma = line.find(',');
    if (comma != std::string_view::npos) {
      const std::string_view field = line.substr(comma + 1, 12);
      if (const auto utc = runner::ParseNmeaTime(field)) {
        FUZZ_CHECK(*utc >= 0 && *utc <= runner::kMillisPerDay + 1000);
      }
      for (const bool latitude : {true, false}) {
        if (const auto angle =
                runner::ParseNmeaAngle(field, line.substr(line.size() - 1), latitude)) {
          FUZZ_CHECK(std::fabs(*angle) <= (latitude ? 90.0 : 180.0));
        }
      }
    }
    const runner::UtcMillis d = runner::UtcDifference(parse.utc.value_or(0), 43'200'000);
    FUZZ_CHECK(d > -runner::kMillisPerDay / 2 - 1000 && d <= runner::kMillisPerDay / 2 + 1000);
  }
  return 0;
}
