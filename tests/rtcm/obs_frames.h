#pragma once
// Frame encoders for observation messages (legacy 1001-1012 and MSM 1-7), and a decoder held at
// a pinned "now", shared by the observation test files.
#include <cstdint>
#include <memory>
#include <vector>

#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm_frame_builder.h"

namespace obs_test {

using fixtures::BitWriter;
using Bytes = std::vector<uint8_t>;

constexpr double kLightMs = 299792.458;  // metres per light-millisecond
constexpr double kC = 299792458.0;
constexpr int kWeek = 2300;             // GPS week of every test epoch
constexpr uint32_t kTowMs = 200000000;  // GPS time of week of the first test epoch, ms
constexpr double kL1 = kC / 1575.42e6;  // GPS L1 wavelength
constexpr double kL2 = kC / 1227.60e6;  // GPS L2 wavelength

// GLONASS time of day (UTC + 3 h) of the instant whose GPS time of week is tow_ms; GPS-UTC is
// 18 s in week 2300.
inline uint32_t GlonassTodMs(uint32_t tow_ms) {
  const int64_t ms = static_cast<int64_t>(tow_ms) - 18000 + 10800000;
  return static_cast<uint32_t>(((ms % 86400000) + 86400000) % 86400000);
}

inline rtcm::GnssTime GpsTime(uint32_t tow_ms) {
  return rtcm::time_from_gps_week(kWeek, tow_ms * 0.001);
}

// UTC "now" a little after the first test epoch.
inline rtcm::GnssTime PinnedUtcNow() {
  return rtcm::gps_to_utc_time(rtcm::time_from_gps_week(kWeek, kTowMs * 0.001 + 5.0));
}

struct DecoderDeleter {
  void operator()(rtcm::RtcmDecoder* dec) const {
    rtcm::free_rtcm(dec);
    delete dec;
  }
};
using DecoderPtr = std::unique_ptr<rtcm::RtcmDecoder, DecoderDeleter>;

inline DecoderPtr PinnedDecoder() {
  DecoderPtr dec(new rtcm::RtcmDecoder);
  rtcm::init_rtcm(dec.get());
  dec->utc_clock = [] { return PinnedUtcNow(); };
  return dec;
}

// Feeds a whole frame; the result of its last byte.
inline int Feed(rtcm::RtcmDecoder* dec, const Bytes& bytes) {
  int result = 0;
  for (uint8_t b : bytes) result = rtcm::input_rtcm3(dec, b);
  return result;
}

// ---- legacy messages ----

struct LegacySat {
  int id = 1;
  int l1_code = 0;
  int channel = 7;  // GLONASS frequency channel number + 7
  uint32_t l1_range = 0;
  int32_t l1_phase_diff = 0;
  int l1_lock = 0;
  int ambiguity = 0;
  int l1_cnr = 0;
  int l2_code = 0;
  int32_t l2_range_diff = 0;
  int32_t l2_phase_diff = 0;
  int l2_lock = 0;
  int l2_cnr = 0;
};

struct LegacyHeader {
  int staid = 100;
  uint32_t epoch_ms = kTowMs;  // GPS time of week, or GLONASS time of day for 1009-1012
  int sync = 0;
  int nsat = -1;  // announced count; -1 = the number of satellites given
};

inline Bytes LegacyFrame(int type, const LegacyHeader& h, const std::vector<LegacySat>& sats) {
  const bool glonass = type >= 1009;
  const bool dual = type == 1004 || type == 1012;
  const bool with_sats = type == 1002 || type == 1004 || type == 1010 || type == 1012;
  BitWriter w;
  w.Unsigned(h.staid, 12);
  w.Unsigned(glonass ? GlonassTodMs(h.epoch_ms) : h.epoch_ms, glonass ? 27 : 30);
  w.Unsigned(h.sync, 1);
  w.Unsigned(h.nsat >= 0 ? h.nsat : static_cast<int>(sats.size()), 5);
  w.Unsigned(0, 1).Unsigned(0, 3);  // smoothing indicator and interval
  if (with_sats) {
    for (const LegacySat& s : sats) {
      w.Unsigned(s.id, 6).Unsigned(s.l1_code, 1);
      if (glonass) w.Unsigned(s.channel, 5);
      w.Unsigned(s.l1_range, glonass ? 25 : 24).Signed(s.l1_phase_diff, 20);
      w.Unsigned(s.l1_lock, 7).Unsigned(s.ambiguity, glonass ? 7 : 8).Unsigned(s.l1_cnr, 8);
      if (dual) {
        w.Unsigned(s.l2_code, 2).Signed(s.l2_range_diff, 14).Signed(s.l2_phase_diff, 20);
        w.Unsigned(s.l2_lock, 7).Unsigned(s.l2_cnr, 8);
      }
    }
  }
  return fixtures::FrameOf(type, w);
}

// ---- MSM ----

struct MsmSat {
  int id = 1;
  uint32_t whole_ms = 70;  // 255 = invalid
  int info = 0;            // extended satellite info (MSM 5 and 7)
  uint32_t modulo = 0;     // units of 2^-10 ms
  int32_t rate = 0;        // m/s (MSM 5 and 7); -8192 = invalid
};

struct MsmCell {
  int32_t fine_range = 0;
  int32_t fine_phase = 0;
  uint32_t lock = 0;
  int half = 0;
  uint32_t cnr = 0;
  int32_t fine_rate = 0;  // 0.0001 m/s (MSM 5 and 7)
};

struct MsmMessage {
  int staid = 100;
  uint32_t epoch_ms = kTowMs;  // GPS time of week (BeiDou: of BeiDou time; GLONASS: converted)
  int sync = 0;
  std::vector<MsmSat> sats;
  std::vector<int> signals;
  std::vector<int> mask;        // nsat x nsig flags, satellite-major; empty = all set
  std::vector<MsmCell> cells;   // one per set cell; missing ones are zero
  int extra_bits = 0;           // zero bits appended after the data
  bool drop_data = false;       // header and cell mask only
  bool drop_cell_mask = false;  // header up to the signal mask only
};

inline int MsmBaseType(int sys) {
  switch (sys) {
    case rtcm::SYS_GPS:
      return 1070;
    case rtcm::SYS_GLONASS:
      return 1080;
    case rtcm::SYS_GALILEO:
      return 1090;
    case rtcm::SYS_SBAS:
      return 1100;
    case rtcm::SYS_QZSS:
      return 1110;
    default:
      return 1120;
  }
}

// kind 1..7; for 1..3 only the header and the cell mask are written.
inline Bytes MsmFrame(int sys, int kind, const MsmMessage& m) {
  BitWriter w;
  w.Unsigned(m.staid, 12);
  if (sys == rtcm::SYS_GLONASS) {
    w.Unsigned(0, 3).Unsigned(GlonassTodMs(m.epoch_ms), 27);
  } else {
    w.Unsigned(m.epoch_ms, 30);
  }
  w.Unsigned(m.sync, 1).Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2);
  w.Unsigned(0, 1).Unsigned(0, 3);
  uint64_t sat_mask = 0;
  for (const MsmSat& s : m.sats) sat_mask |= uint64_t{1} << (64 - s.id);
  w.Unsigned(sat_mask >> 32, 32).Unsigned(sat_mask & 0xffffffffu, 32);
  uint32_t sig_mask = 0;
  for (int id : m.signals) sig_mask |= uint32_t{1} << (32 - id);
  w.Unsigned(sig_mask, 32);
  const size_t ncells_possible = m.sats.size() * m.signals.size();
  size_t ncell = 0;
  for (size_t c = 0; c < ncells_possible && !m.drop_cell_mask; ++c) {
    const int bit = m.mask.empty() ? 1 : m.mask[c];
    w.Unsigned(bit, 1);
    ncell += bit;
  }
  if (kind >= 4 && !m.drop_data && !m.drop_cell_mask) {
    const bool ext = kind == 5 || kind == 7;
    const bool high = kind == 6 || kind == 7;
    for (const MsmSat& s : m.sats) w.Unsigned(s.whole_ms, 8);
    if (ext) {
      for (const MsmSat& s : m.sats) w.Unsigned(s.info, 4);
    }
    for (const MsmSat& s : m.sats) w.Unsigned(s.modulo, 10);
    if (ext) {
      for (const MsmSat& s : m.sats) w.Signed(s.rate, 14);
    }
    std::vector<MsmCell> cells = m.cells;
    cells.resize(ncell);
    for (const MsmCell& c : cells) w.Signed(c.fine_range, high ? 20 : 15);
    for (const MsmCell& c : cells) w.Signed(c.fine_phase, high ? 24 : 22);
    for (const MsmCell& c : cells) w.Unsigned(c.lock, high ? 10 : 4);
    for (const MsmCell& c : cells) w.Unsigned(c.half, 1);
    for (const MsmCell& c : cells) w.Unsigned(c.cnr, high ? 10 : 6);
    if (ext) {
      for (const MsmCell& c : cells) w.Signed(c.fine_rate, 15);
    }
  }
  for (int i = 0; i < m.extra_bits; ++i) w.Unsigned(0, 1);
  return fixtures::FrameOf(MsmBaseType(sys) + kind, w);
}

}  // namespace obs_test
