#include "rtcm_presence.h"

#include <algorithm>
#include <cctype>

#include "rtcm/frame.h"

namespace tarno {

namespace {

constexpr std::size_t kSampleBytes = 4096;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// "$GPGGA," "$GNRMC,": a talker and sentence name of five letters or digits, then a comma.
bool HoldsNmeaSentence(std::string_view text) {
  for (std::size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at + 1)) {
    if (at + 6 >= text.size() || text[at + 6] != ',') continue;
    const std::string_view name = text.substr(at + 1, 5);
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); })) {
      return true;
    }
  }
  return false;
}

bool MostlyText(std::string_view bytes) {
  const auto printable = std::count_if(bytes.begin(), bytes.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 0x20 && u < 0x7f) || c == '\r' || c == '\n' || c == '\t';
  });
  return static_cast<std::size_t>(printable) * 10 >= bytes.size() * 9;
}

}  // namespace

RtcmPresenceCheck::RtcmPresenceCheck(Clock::time_point start, std::chrono::nanoseconds window,
                                     std::uint64_t window_bytes)
    : _deadline(start + std::chrono::duration_cast<Clock::duration>(window)),
      _window_bytes(window_bytes),
      _decoder(std::make_unique<rtcm::RtcmDecoder>()) {
  _ready = rtcm::init_rtcm(_decoder.get()) == 1;
}

RtcmPresenceCheck::~RtcmPresenceCheck() {
  if (_decoder) rtcm::free_rtcm(_decoder.get());
}

RtcmPresenceCheck::Verdict RtcmPresenceCheck::Feed(std::string_view bytes, Clock::time_point now) {
  if (_verdict != Verdict::Pending || !_ready) return _verdict;
  _bytes += bytes.size();
  if (_sample.size() < kSampleBytes) {
    _sample.append(bytes.substr(0, kSampleBytes - _sample.size()));
  }
  // The decoder's own frame reader, so that what counts as a frame here is what it decodes.
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t left = bytes.size();
  while (left > 0) {
    std::size_t used = 0;
    rtcm::input_rtcm3_block(_decoder.get(), data, left, &used);
    if (_decoder->frame_decoded) {
      _verdict = Verdict::Rtcm;
      break;
    }
    data += used;
    left -= used;
  }
  if (_verdict == Verdict::Pending && _bytes >= _window_bytes && now >= _deadline) {
    _verdict = Verdict::NoRtcm;
  }
  if (_verdict != Verdict::Pending) {
    rtcm::free_rtcm(_decoder.get());
    _decoder.reset();
  }
  return _verdict;
}

std::string RtcmPresenceCheck::Kind() const {
  const std::string lower = Lower(_sample);
  for (const char* tag : {"<!doctype html", "<html", "<head", "<body"}) {
    if (lower.find(tag) != std::string::npos) return "an HTML page";
  }
  if (MostlyText(_sample) && HoldsNmeaSentence(_sample)) return "NMEA text";
  return "binary data";
}

}  // namespace tarno
