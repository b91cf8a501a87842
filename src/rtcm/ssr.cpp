#include "rtcm/ssr.h"

#include <cstring>
#include <span>

#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

// Kinds of correction: the index of the per-kind fields of SsrCorrection.
constexpr int kOrbit = 0;
constexpr int kClock = 1;
constexpr int kHighRateClock = 2;
constexpr int kUra = 3;
constexpr int kCodeBias = 4;

// Code-bias signal and tracking mode indicator -> observation code, per system.
constexpr const char* kGpsSignals[] = {"1C", "1P", "1W", "1Y", "1M", "2C", "2D", "2S", "2L",
                                       "2X", "2P", "2W", "2Y", "2M", "5I", "5Q", "5X"};
constexpr const char* kGlonassSignals[] = {"1C", "1P", "2C", "2P"};
constexpr const char* kGalileoSignals[] = {"1A", "1B", "1C", "1X", "1Z", "5I", "5Q",
                                           "5X", "7I", "7Q", "7X", "8L", "8Q", "8X",
                                           "6A", "6B", "6C", "6X", "6Z"};
constexpr const char* kQzssSignals[] = {"1C", "1S", "1L", "2S", "2L", "2X", "5I",
                                        "5Q", "5X", "6S", "6L", "6X", "1X"};
constexpr const char* kBeidouSignals[] = {"1I", "1Q", "1X", "7I", "7Q", "7X", "6I", "6Q", "6X"};
constexpr const char* kSbasSignals[] = {"1C", "5I", "5Q", "5X"};

// How a satellite block of each system begins.
struct SystemLayout {
  int sys;
  int id_bits;
  int prn_offset;
  int iode_bits;     // orbit blocks only
  int iod_crc_bits;  // orbit blocks only
  std::span<const char* const> signals;
};

// System, satellite ID bits, PRN = ID plus, IODE bits, IOD CRC bits, code-bias signals.
constexpr SystemLayout kLayouts[] = {
    {SYS_GPS, 6, 0, 8, 0, kGpsSignals},           //
    {SYS_GLONASS, 5, 0, 8, 0, kGlonassSignals},   //
    {SYS_GALILEO, 6, 0, 10, 0, kGalileoSignals},  //
    {SYS_QZSS, 4, 192, 8, 0, kQzssSignals},       //
    {SYS_SBAS, 6, 120, 9, 24, kSbasSignals},      //
    {SYS_BEIDOU, 6, 1, 10, 24, kBeidouSignals},   //
};

const SystemLayout* layout_of(int sys) {
  for (const SystemLayout& layout : kLayouts)
    if (layout.sys == sys) return &layout;
  return nullptr;
}

// Update interval index -> seconds.
constexpr double kUpdateIntervals[16] = {1,   2,   5,   10,  15,   30,   60,   120,
                                         240, 300, 600, 900, 1800, 3600, 7200, 10800};

// A signed field and its scale, as the correction blocks list them.
struct Scaled {
  int len;
  double scale;
};
// Radial, along-track, cross-track (m), then their rates (m/s).
constexpr Scaled kOrbitFields[6] = {{22, 0.0001},   {20, 0.0004},   {20, 0.0004},
                                    {21, 0.000001}, {19, 0.000004}, {19, 0.000004}};
// C0 (m), C1 (m/s), C2 (m/s^2).
constexpr Scaled kClockFields[3] = {{22, 0.0001}, {21, 0.000001}, {27, 0.00000002}};
constexpr int kOrbitBits = 121;
constexpr int kClockBits = 70;
constexpr int kUraBits = 6;
constexpr int kHighRateClockBits = 22;
constexpr int kBiasCountBits = 5;
constexpr int kSignalBits = 5;
constexpr int kBiasValueBits = 14;  // x 0.01 m
constexpr int kBiasBits = kSignalBits + kBiasValueBits;

struct Header {
  int nsat = 0;
  int sync = 0;
  int iod = 0;
  double update_interval = 0.0;
  int reference_datum = 0;
  int begin = 0;
};

// Both headers: type 1 (orbit messages) carries the satellite reference datum bit.
int decode_head(RtcmDecoder* dec, int sys, bool with_datum, Header* h) {
  const int epoch_bits = sys == SYS_GLONASS ? 17 : 20;
  const int count_bits = sys == SYS_QZSS ? 4 : 6;
  const int begin = 36 + epoch_bits + 4 + 1 + (with_datum ? 1 : 0) + 4 + 16 + 4 + count_bits;
  if (dec->len * 8 < begin) {
    trace(2, "rtcm3 ssr header length error: len=%d\n", dec->len);
    return -1;
  }
  const FrameBuffer& f = dec->frame;
  int pos = 36;
  const double epoch = frame_field(f, pos, epoch_bits);
  pos += epoch_bits;
  if (sys == SYS_GLONASS)
    resolve_glonass_time_of_day(dec, epoch);
  else
    resolve_time_of_week(dec, epoch);
  const int udi = static_cast<int>(frame_field(f, pos, 4));
  pos += 4;
  h->sync = static_cast<int>(frame_field(f, pos, 1));
  pos += 1;
  if (with_datum) {
    h->reference_datum = static_cast<int>(frame_field(f, pos, 1));
    pos += 1;
  }
  h->iod = static_cast<int>(frame_field(f, pos, 4));
  pos += 4;
  pos += 16;  // provider ID
  pos += 4;   // solution ID
  h->nsat = static_cast<int>(frame_field(f, pos, count_bits));
  pos += count_bits;
  h->update_interval = kUpdateIntervals[udi];
  h->begin = pos;
  if (dec->describe_messages)
    append_description(dec, " %s nsat=%2d iod=%2d udi=%2d sync=%d", time_text(dec->time, 2),
                       h->nsat, h->iod, udi, h->sync);
  return h->nsat;
}

// Marks one kind of the record as stored under the header's epoch.
void stamp(RtcmDecoder* dec, SsrCorrection* rec, int kind, const Header& h) {
  rec->epoch[kind] = dec->time;
  rec->update_interval[kind] = h.update_interval;
  rec->iod_ssr[kind] = h.iod;
  rec->update = 1;
}

// Reads one block after its satellite ID, advancing pos; stores into rec unless it is null.
using BlockReader = void (*)(RtcmDecoder* dec, const SystemLayout& layout, const Header& h,
                             int& pos, SsrCorrection* rec);

struct BodyKind {
  bool type1_header;   // orbit messages use the header with the reference datum
  bool ephemeris_ids;  // the block carries IODE and IOD CRC
  int fixed_bits;      // bits after the ID (and IODE, IOD CRC) counted by the stop test
  BlockReader read;
};

void read_orbit(RtcmDecoder* dec, const SystemLayout& layout, const Header& h, int& pos,
                SsrCorrection* rec) {
  const FrameBuffer& f = dec->frame;
  const int iode = static_cast<int>(frame_field(f, pos, layout.iode_bits));
  pos += layout.iode_bits;
  const int iod_crc = static_cast<int>(frame_field(f, pos, layout.iod_crc_bits));
  pos += layout.iod_crc_bits;
  double values[6];
  for (int i = 0; i < 6; ++i) {
    values[i] = frame_field_signed(f, pos, kOrbitFields[i].len) * kOrbitFields[i].scale;
    pos += kOrbitFields[i].len;
  }
  if (!rec) return;
  rec->iode = iode;
  rec->iod_crc = iod_crc;
  rec->reference_datum = h.reference_datum;
  for (int i = 0; i < 3; ++i) {
    rec->orbit[i] = values[i];
    rec->orbit_rate[i] = values[3 + i];
  }
  stamp(dec, rec, kOrbit, h);
}

void read_clock(RtcmDecoder* dec, const SystemLayout&, const Header& h, int& pos,
                SsrCorrection* rec) {
  double values[3];
  for (int i = 0; i < 3; ++i) {
    values[i] = frame_field_signed(dec->frame, pos, kClockFields[i].len) * kClockFields[i].scale;
    pos += kClockFields[i].len;
  }
  if (!rec) return;
  for (int i = 0; i < 3; ++i) rec->clock[i] = values[i];
  stamp(dec, rec, kClock, h);
}

void read_orbit_clock(RtcmDecoder* dec, const SystemLayout& layout, const Header& h, int& pos,
                      SsrCorrection* rec) {
  read_orbit(dec, layout, h, pos, rec);
  read_clock(dec, layout, h, pos, rec);
}

void read_ura(RtcmDecoder* dec, const SystemLayout&, const Header& h, int& pos,
              SsrCorrection* rec) {
  const int ura = static_cast<int>(frame_field(dec->frame, pos, kUraBits));
  pos += kUraBits;
  if (!rec) return;
  rec->ura = ura;
  stamp(dec, rec, kUra, h);
}

void read_high_rate_clock(RtcmDecoder* dec, const SystemLayout&, const Header& h, int& pos,
                          SsrCorrection* rec) {
  const double value = frame_field_signed(dec->frame, pos, kHighRateClockBits) * 0.0001;
  pos += kHighRateClockBits;
  if (!rec) return;
  rec->high_rate_clock = value;
  stamp(dec, rec, kHighRateClock, h);
}

void read_code_bias(RtcmDecoder* dec, const SystemLayout& layout, const Header& h, int& pos,
                    SsrCorrection* rec) {
  const FrameBuffer& f = dec->frame;
  const int frame_bits = dec->len * 8;
  const int count = static_cast<int>(frame_field(f, pos, kBiasCountBits));
  pos += kBiasCountBits;
  float biases[MAX_CODE] = {};
  for (int j = 0; j < count && pos + kBiasBits <= frame_bits; ++j) {
    const int mode = static_cast<int>(frame_field(f, pos, kSignalBits));
    const double bias = frame_field_signed(f, pos + kSignalBits, kBiasValueBits) * 0.01;
    pos += kBiasBits;
    if (mode >= static_cast<int>(layout.signals.size())) {
      trace(2, "rtcm3 ssr signal mode not supported: mode=%d\n", mode);
      continue;
    }
    const int code = code_from_text(layout.signals[mode], nullptr);
    if (code > 0) biases[code - 1] = static_cast<float>(bias);
  }
  if (!rec) return;
  std::memcpy(rec->code_bias, biases, sizeof biases);
  stamp(dec, rec, kCodeBias, h);
}

constexpr BodyKind kOrbitBody{true, true, kOrbitBits, read_orbit};
constexpr BodyKind kClockBody{false, false, kClockBits, read_clock};
constexpr BodyKind kCodeBiasBody{false, false, kBiasCountBits, read_code_bias};
constexpr BodyKind kOrbitClockBody{true, true, kOrbitBits + kClockBits, read_orbit_clock};
constexpr BodyKind kUraBody{false, false, kUraBits, read_ura};
constexpr BodyKind kHighRateClockBody{false, false, kHighRateClockBits, read_high_rate_clock};

// The frame all six body decoders share: header, then one block per announced satellite
// while the block fits in the frame.
int decode_body(RtcmDecoder* dec, int sys, const BodyKind& kind) {
  const SystemLayout* layout = layout_of(sys);
  if (!layout) return -1;
  Header h;
  const int nsat = decode_head(dec, sys, kind.type1_header, &h);
  if (nsat < 0) return -1;
  const int frame_bits = dec->len * 8;
  const int block_bits = layout->id_bits +
                         (kind.ephemeris_ids ? layout->iode_bits + layout->iod_crc_bits : 0) +
                         kind.fixed_bits;
  int pos = h.begin;
  for (int i = 0; i < nsat; ++i) {
    if (pos + block_bits > frame_bits) {
      trace(2, "rtcm3 ssr length error: len=%d nsat=%d\n", dec->len, nsat);
      break;
    }
    const int prn =
        static_cast<int>(frame_field(dec->frame, pos, layout->id_bits)) + layout->prn_offset;
    pos += layout->id_bits;
    const int sat = sat_number(sys, prn);
    if (sat == 0) trace(2, "rtcm3 ssr satellite number error: prn=%d\n", prn);
    kind.read(dec, *layout, h, pos, sat > 0 ? &dec->ssr[sat - 1] : nullptr);
  }
  return h.sync ? 0 : 10;
}

}  // namespace

int decode_ssr1_head(RtcmDecoder* dec, int sys, int* sync, int* iod, double* update_interval,
                     int* reference_datum, int* header_end) {
  Header h;
  const int nsat = decode_head(dec, sys, true, &h);
  if (nsat < 0) return -1;
  if (sync) *sync = h.sync;
  if (iod) *iod = h.iod;
  if (update_interval) *update_interval = h.update_interval;
  if (reference_datum) *reference_datum = h.reference_datum;
  if (header_end) *header_end = h.begin;
  return nsat;
}

int decode_ssr2_head(RtcmDecoder* dec, int sys, int* sync, int* iod, double* update_interval,
                     int* header_end) {
  Header h;
  const int nsat = decode_head(dec, sys, false, &h);
  if (nsat < 0) return -1;
  if (sync) *sync = h.sync;
  if (iod) *iod = h.iod;
  if (update_interval) *update_interval = h.update_interval;
  if (header_end) *header_end = h.begin;
  return nsat;
}

int decode_ssr_orbit(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kOrbitBody);
}
int decode_ssr_clock(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kClockBody);
}
int decode_ssr_code_bias(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kCodeBiasBody);
}
int decode_ssr_orbit_clock(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kOrbitClockBody);
}
int decode_ssr_ura(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kUraBody);
}
int decode_ssr_high_rate_clock(RtcmDecoder* dec, int sys) {
  return decode_body(dec, sys, kHighRateClockBody);
}

}  // namespace rtcm
