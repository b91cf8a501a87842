#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/frame_scanner.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

constexpr uint8_t kPreamble = kFramePreamble;
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

// Eight bytes per step: the register is kept in the top 24 bits of a 32-bit word, and
// table k gives the effect of a byte followed by k zero bytes, so the eight lookups of one
// step are independent of each other.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  for (uint32_t i = 0; i < 256; ++i) tables[0][i] = kCrcTable[i] << 8;
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}
constexpr SliceTables kSliceTables = MakeSliceTables();

uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

int HeaderLength(const uint8_t* frame) {
  return static_cast<int>(bits_unsigned(frame, 14, 10)) + 3;
}

// frame[0..len+3) is complete. With a right CRC it is the caller's to decode; bytes held after
// it (only after a resync) wait for the next input. With a wrong one its preamble was false:
// the search goes on at the byte after it, among the bytes already held, so a stray 0xD3
// costs no frame behind it.
bool AcceptFrame(RtcmDecoder* dec) {
  const int size = dec->len + 3;
  if (frame_crc24(dec->frame, dec->len) != frame_field(dec->frame, dec->len * 8, 24)) {
    trace(2, "rtcm3 parity error: len=%d\n", dec->len);
    dec->scan_from = 1;
    return false;
  }
  if (dec->frame_bytes > size) {
    dec->scan_from = size;
  } else {
    dec->frame_bytes = 0;
  }
  dec->frame_decoded = 1;
  return true;
}

// Searches the held bytes from scan_from on and decodes the first frame with a right CRC found
// complete among them. 0 without decoding when they end inside a candidate frame (collection
// goes on with new bytes) or hold no preamble.
int ScanHeldBytes(RtcmDecoder* dec) {
  while (dec->scan_from > 0) {
    const int start = dec->scan_from;
    dec->scan_from = 0;
    const void* found = std::memchr(dec->frame + start, kPreamble, dec->frame_bytes - start);
    if (!found) {
      dec->frame_bytes = 0;
      return 0;
    }
    const int at = static_cast<int>(static_cast<const uint8_t*>(found) - dec->frame);
    dec->frame_bytes -= at;
    std::memmove(dec->frame, dec->frame + at, dec->frame_bytes);
    if (dec->frame_bytes < 3) return 0;
    dec->len = HeaderLength(dec->frame);
    if (dec->frame_bytes < dec->len + 3) return 0;
    if (AcceptFrame(dec)) return decode_rtcm3(dec);
  }
  return 0;
}

int CompleteFrame(RtcmDecoder* dec) {
  return AcceptFrame(dec) ? decode_rtcm3(dec) : ScanHeldBytes(dec);
}

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
  dec->scan_from = 0;
  dec->frame_decoded = 0;
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
  dec->frame_decoded = 0;
  if (dec->scan_from > 0) {
    // Held bytes come first in the stream; this one joins them at the end. The buffer never
    // holds more than one frame and one byte (1030 bytes).
    dec->frame[dec->frame_bytes++] = data;
    return ScanHeldBytes(dec);
  }
  if (dec->frame_bytes == 0) {
    if (data != kPreamble) return 0;
    dec->frame[0] = data;
    dec->frame_bytes = 1;
    return 0;
  }
  dec->frame[dec->frame_bytes++] = data;
  if (dec->frame_bytes == 3) dec->len = HeaderLength(dec->frame);
  if (dec->frame_bytes < 3 || dec->frame_bytes < dec->len + 3) return 0;
  return CompleteFrame(dec);
}

int input_rtcm3_block(RtcmDecoder* dec, const uint8_t* data, size_t size, size_t* used) {
  dec->frame_decoded = 0;
  if (size > 0 && dec->scan_from > 0) {
    // Only right after a resync, for a few bytes: the byte reader's own path.
    *used = 1;
    return input_rtcm3(dec, data[0]);
  }
  size_t at = 0;
  while (at < size) {
    if (dec->frame_bytes == 0) {
      // Every byte up to the next preamble would be dropped one by one.
      const void* found = std::memchr(data + at, kPreamble, size - at);
      if (!found) {
        at = size;
        break;
      }
      at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data) + 1;
      dec->frame[0] = kPreamble;
      dec->frame_bytes = 1;
      continue;
    }
    if (dec->frame_bytes < 3) {
      const size_t take = std::min(static_cast<size_t>(3 - dec->frame_bytes), size - at);
      std::memcpy(dec->frame + dec->frame_bytes, data + at, take);
      dec->frame_bytes += static_cast<int>(take);
      at += take;
      if (dec->frame_bytes < 3) break;
      dec->len = HeaderLength(dec->frame);
    }
    // len + 3 is at most 1029, so the frame always fits.
    const size_t take = std::min(static_cast<size_t>(dec->len + 3 - dec->frame_bytes), size - at);
    std::memcpy(dec->frame + dec->frame_bytes, data + at, take);
    dec->frame_bytes += static_cast<int>(take);
    at += take;
    if (dec->frame_bytes < dec->len + 3) break;
    *used = at;
    return CompleteFrame(dec);
  }
  *used = at;
  return 0;
}

int input_rtcm3_end(RtcmDecoder* dec) {
  dec->frame_decoded = 0;
  while (dec->frame_bytes > 0) {
    // No byte will complete the frame being collected: its preamble was false.
    if (dec->scan_from == 0) dec->scan_from = 1;
    const int result = ScanHeldBytes(dec);
    if (dec->frame_decoded) return result;
  }
  return 0;
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

void append_description(RtcmDecoder* dec, const char* format, ...) {
  const std::size_t used = std::strlen(dec->description);
  if (used + 1 >= sizeof dec->description) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(dec->description + used, sizeof dec->description - used, format, args);
  va_end(args);
}

uint32_t frame_crc24(const uint8_t* buff, int n) {
  const auto& t = kSliceTables;
  uint32_t reg = 0;  // CRC register << 8
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint32_t a = reg ^ LoadBigEndian32(buff + i);
    const uint32_t b = LoadBigEndian32(buff + i + 4);
    reg = t[7][a >> 24] ^ t[6][(a >> 16) & 0xFF] ^ t[5][(a >> 8) & 0xFF] ^ t[4][a & 0xFF] ^
          t[3][b >> 24] ^ t[2][(b >> 16) & 0xFF] ^ t[1][(b >> 8) & 0xFF] ^ t[0][b & 0xFF];
  }
  uint32_t crc = reg >> 8;
  for (; i < n; ++i) {
    crc = ((crc << 8) & 0xFFFFFF) ^ kCrcTable[(crc >> 16) ^ buff[i]];
  }
  return crc;
}

}  // namespace rtcm
