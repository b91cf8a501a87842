#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

constexpr uint8_t kPreamble = 0xD3;
constexpr uint32_t kPolynomial = 0x864CFB;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= kPolynomial;
    }
    table[i] = crc & 0xFFFFFF;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x864CFB && kCrcTable[2] == 0x8AD50D && kCrcTable[3] == 0x0C99F6);

void ClearObservations(ObsSet& obs) {
  obs.count = 0;
  std::fill_n(obs.records.get(), MAX_OBS, ObsRecord{});
}

}  // namespace

int init_rtcm(RtcmDecoder* dec) {
  trace(3, "init_rtcm:\n");
  dec->staid = 0;
  dec->describe_messages = 0;
  dec->time = GnssTime{};
  dec->station = StationInfo{};
  std::fill(std::begin(dec->ssr), std::end(dec->ssr), SsrCorrection{});
  std::memset(dec->description, 0, sizeof dec->description);
  std::memset(dec->msm_signals, 0, sizeof dec->msm_signals);
  dec->epoch_complete = 0;
  dec->last_eph_sat = 0;
  std::memset(dec->legacy_phase, 0, sizeof dec->legacy_phase);
  std::memset(dec->lock_indicator, 0, sizeof dec->lock_indicator);
  dec->frame_bytes = 0;
  dec->len = 0;
  std::memset(dec->frame, 0, sizeof dec->frame);
  std::memset(dec->message_counts, 0, sizeof dec->message_counts);
  std::memset(dec->options, 0, sizeof dec->options);

  dec->obs.records.reset(new (std::nothrow) ObsRecord[MAX_OBS]);
  dec->navigation.ephemeris.reset(new (std::nothrow) Ephemeris[MAX_SAT]);
  dec->navigation.glonass.reset(new (std::nothrow) GlonassEphemeris[1]);
  if (!dec->obs.records || !dec->navigation.ephemeris || !dec->navigation.glonass) {
    free_rtcm(dec);
    return 0;
  }
  ClearObservations(dec->obs);
  dec->navigation.eph_count = MAX_SAT;
  dec->navigation.glo_count = 1;
  return 1;
}

void free_rtcm(RtcmDecoder* dec) {
  trace(3, "free_rtcm:\n");
  dec->obs.records.reset();
  dec->obs.count = 0;
  dec->navigation.ephemeris.reset();
  dec->navigation.eph_count = 0;
  dec->navigation.glonass.reset();
  dec->navigation.glo_count = 0;
}

int input_rtcm3(RtcmDecoder* dec, uint8_t data) {
  trace(5, "input_rtcm3: data=%02x\n", data);
  if (dec->frame_bytes == 0) {
    if (data != kPreamble) return 0;
    dec->frame[0] = data;
    dec->frame_bytes = 1;
    return 0;
  }
  dec->frame[dec->frame_bytes++] = data;
  if (dec->frame_bytes == 3) {
    dec->len = static_cast<int>(bits_unsigned(dec->frame, 14, 10)) + 3;
  }
  if (dec->frame_bytes < 3 || dec->frame_bytes < dec->len + 3) return 0;
  dec->frame_bytes = 0;
  if (frame_crc24(dec->frame, dec->len) != bits_unsigned(dec->frame, dec->len * 8, 24)) {
    trace(2, "rtcm3 parity error: len=%d\n", dec->len);
    return 0;
  }
  return decode_rtcm3(dec);
}

uint32_t bits_unsigned(const uint8_t* buff, int pos, int n) {
  if (n <= 0) return 0;
  if (n > 32) n = 32;
  // At most five bytes hold the field; only those bytes are read.
  const int first = pos / 8;
  const int last = (pos + n - 1) / 8;
  uint64_t window = 0;
  for (int i = first; i <= last; ++i) window = (window << 8) | buff[i];
  window >>= 7 - (pos + n - 1) % 8;
  return static_cast<uint32_t>(window & ((uint64_t{1} << n) - 1));
}

int32_t bits_signed(const uint8_t* buff, int pos, int n) {
  uint32_t value = bits_unsigned(buff, pos, n);
  if (n <= 0 || n >= 32) return static_cast<int32_t>(value);
  if (!(value & (1u << (n - 1)))) return static_cast<int32_t>(value);
  return static_cast<int32_t>(value | (~0u << n));
}

double bits_sign_magnitude(const uint8_t* buff, int pos, int n) {
  if (n <= 0) return 0.0;
  double magnitude = static_cast<double>(bits_unsigned(buff, pos + 1, n - 1));
  return bits_unsigned(buff, pos, 1) ? -magnitude : magnitude;
}

double bits_signed38(const uint8_t* buff, int pos) {
  return static_cast<double>(bits_signed(buff, pos, 32)) * 64.0 +
         static_cast<double>(bits_unsigned(buff, pos + 32, 6));
}

uint32_t frame_crc24(const uint8_t* buff, int n) {
  uint32_t crc = 0;
  for (int i = 0; i < n; ++i) {
    crc = ((crc << 8) & 0xFFFFFF) ^ kCrcTable[(crc >> 16) ^ buff[i]];
  }
  return crc;
}

}  // namespace rtcm
