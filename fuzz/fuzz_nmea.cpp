// NMEA through the program's sentence parser and the position tracker that combines GGA and GST
// into samples; either as lines, or as a receiver's port where sentences sit among the bytes of
// other protocols and are found by the stream reader.
//
// Input layout:
//   [0]  flags: 1 rewrite every sentence's "*HH" checksum to the right value before parsing
//        (lets mutations reach the field parsers instead of stopping at the checksum);
//        2 the rest is a port's byte stream, not lines
//   lines: the rest, lines separated by LF
//   port:  [1] n, [2..n+1] piece sizes (see ReadSizeTable), the rest the stream
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz_input.h"
#include "positions/nmea_position.h"
#include "positions/nmea_sentence.h"
#include "positions/nmea_stream_reader.h"

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

void CheckParse(const ntrip_host::NmeaParse& parse) {
  FUZZ_CHECK(!ntrip_host::NmeaStatusName(parse.status).empty());
  FUZZ_CHECK(ntrip_host::NmeaStatusName(parse.status) != "unknown");
  constexpr ntrip_host::UtcMillis kLatest = ntrip_host::kMillisPerDay + 1000;  // leap second
  if (parse.utc) FUZZ_CHECK(*parse.utc >= 0 && *parse.utc <= kLatest);
  if (parse.status != ntrip_host::NmeaStatus::kOk) {
    FUZZ_CHECK(std::holds_alternative<std::monostate>(parse.sentence));
    return;
  }
  FUZZ_CHECK(parse.utc.has_value());
  if (const auto* gga = std::get_if<ntrip_host::GgaFix>(&parse.sentence)) {
    FUZZ_CHECK(gga->utc == *parse.utc);
    FUZZ_CHECK(std::fabs(gga->latitude_deg) <= 90.0);
    FUZZ_CHECK(std::fabs(gga->longitude_deg) <= 180.0);
    FUZZ_CHECK(std::isfinite(gga->altitude_msl_m));
    FUZZ_CHECK(gga->quality >= 1 && gga->quality <= 9);
  } else if (const auto* gst = std::get_if<ntrip_host::GstStatistics>(&parse.sentence)) {
    FUZZ_CHECK(gst->utc == *parse.utc);
    FUZZ_CHECK(gst->sd_latitude_m >= 0.0 && gst->sd_longitude_m >= 0.0);
    FUZZ_CHECK(!(gst->HorizontalAccuracy() < 0.0));
  } else {
    FUZZ_CHECK(!"kOk without a sentence");
  }
}

// One sentence or line through the parser, the tracker and the field helpers.
void CheckLine(std::string_view line, bool fix_checksums, ntrip_host::NmeaPositionTracker& tracker) {
  std::string fixed;
  if (fix_checksums) {
    fixed = WithRightChecksum(line);
    line = fixed;
  }
  const ntrip_host::NmeaParse parse = ntrip_host::ParseNmeaLine(line);
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
    if (const auto utc = ntrip_host::ParseNmeaTime(field)) {
      FUZZ_CHECK(*utc >= 0 && *utc <= ntrip_host::kMillisPerDay + 1000);
    }
    for (const bool latitude : {true, false}) {
      if (const auto angle = ntrip_host::ParseNmeaAngle(field, line.substr(line.size() - 1), latitude)) {
        FUZZ_CHECK(std::fabs(*angle) <= (latitude ? 90.0 : 180.0));
      }
    }
  }
  const ntrip_host::UtcMillis d = ntrip_host::UtcDifference(parse.utc.value_or(0), 43'200'000);
  FUZZ_CHECK(d > -ntrip_host::kMillisPerDay / 2 - 1000 && d <= ntrip_host::kMillisPerDay / 2 + 1000);
}

struct PortRead {
  std::vector<std::pair<std::string, bool>> sentences;  // text, too long
  std::uint64_t other_bytes = 0;
};

// A sentence that follows any bytes at all is still found: the port ends with this one.
const std::string kLastGga =
    "$GPGGA,123519.00,4807.0380,N,01131.0000,E,4,12,0.9,545.4,M,46.9,M,1.0,0031*4A";

template <typename Pieces>
PortRead ReadPort(Pieces&& pieces) {
  ntrip_host::NmeaStreamReader reader(ntrip_host::kMaxNmeaLineLength);
  PortRead read;
  const auto keep = [&read](std::string_view text, bool too_long) {
    read.sentences.emplace_back(std::string(text), too_long);
  };
  pieces([&](std::string_view piece) { read.other_bytes += reader.Feed(piece, keep); });
  read.other_bytes += reader.Feed(kLastGga + "\r\n", keep);
  read.other_bytes += reader.Finish(keep);
  return read;
}

void CheckPort(FuzzInput& in, bool fix_checksums) {
  const std::vector<uint8_t> sizes = fuzzing::ReadSizeTable(in);
  const std::string_view port = in.Rest();
  const PortRead whole = ReadPort([&](auto&& feed) { feed(port); });
  const PortRead pieces = ReadPort([&](auto&& feed) { fuzzing::ForEachPiece(port, sizes, feed); });
  // Where the reads fall must not change what is found.
  FUZZ_CHECK(whole.sentences == pieces.sentences);
  FUZZ_CHECK(whole.other_bytes == pieces.other_bytes);

  FUZZ_CHECK(!whole.sentences.empty() && whole.sentences.back().first == kLastGga);
  FUZZ_CHECK(!whole.sentences.back().second);
  std::uint64_t accounted = whole.other_bytes;
  ntrip_host::NmeaPositionTracker tracker;
  for (const auto& [text, too_long] : whole.sentences) {
    FUZZ_CHECK(text.size() >= 6 && text.front() == '$');
    FUZZ_CHECK(text.size() <= ntrip_host::kMaxNmeaLineLength);
    for (std::size_t i = 1; i < text.size(); ++i) {
      FUZZ_CHECK(text[i] >= 0x20 && text[i] <= 0x7E && text[i] != '$');
    }
    accounted += text.size();
    if (!too_long) CheckLine(text, fix_checksums, tracker);
  }
  FUZZ_CHECK(accounted <= port.size() + kLastGga.size());
  const ntrip_host::NmeaParse last = ntrip_host::ParseNmeaLine(kLastGga);
  FUZZ_CHECK(last.status == ntrip_host::NmeaStatus::kOk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const bool fix_checksums = (flags & 1) != 0;
  if ((flags & 2) != 0) {
    CheckPort(in, fix_checksums);
    return 0;
  }
  std::string_view text = in.Rest();
  ntrip_host::NmeaPositionTracker tracker;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    const std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    CheckLine(line, fix_checksums, tracker);
  }
  return 0;
}
