// Multiple Signal Messages: the common header, MSM 1-3 (header only) and MSM 4-7 observations.
#include "rtcm/msm.h"

#include <array>
#include <cstring>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

constexpr double kLightMillisecond = 299792.458;  // metres
constexpr int kHeaderBits = 193;                  // fixed part, up to the end of the signal mask
constexpr int kMaxSats = 64;
constexpr int kMaxSignals = 32;
constexpr int kMaxCells = 64;
constexpr double kAbsent = -1e16;  // cell value not read or marked invalid
constexpr double kAbsentBelow = -1e12;

constexpr double Pow2(int exponent) {
  double v = 1.0;
  for (int i = 0; i < exponent; ++i) v *= 2.0;
  for (int i = 0; i > exponent; --i) v /= 2.0;
  return v;
}

// Field widths and scales of one MSM kind.
struct MsmKind {
  bool extended;  // extended satellite info and phase range rates (MSM 5 and 7)
  int range_bits;
  int phase_bits;
  int lock_bits;
  int cnr_bits;
  double range_scale;  // metres per unit
  double phase_scale;
  double cnr_scale;  // dB-Hz per unit
  int satellite_bits;
  int cell_bits;
};

constexpr MsmKind kMsm4{
    false, 15, 22, 4, 6, Pow2(-24) * kLightMillisecond, Pow2(-29) * kLightMillisecond, 1.0, 18, 48};
constexpr MsmKind kMsm5{
    true, 15, 22, 4, 6, Pow2(-24) * kLightMillisecond, Pow2(-29) * kLightMillisecond, 1.0, 36, 63};
constexpr MsmKind kMsm6{
    false,  20, 24, 10, 10, Pow2(-29) * kLightMillisecond, Pow2(-31) * kLightMillisecond,
    0.0625, 18, 65};
constexpr MsmKind kMsm7{
    true,   20, 24, 10, 10, Pow2(-29) * kLightMillisecond, Pow2(-31) * kLightMillisecond,
    0.0625, 36, 80};

// Signal id -> two-character code per system; ids without an entry have no code.
struct SignalCode {
  int id;
  const char* text;
};
constexpr SignalCode kGpsSignals[] = {{2, "1C"},  {3, "1P"},  {4, "1W"},  {5, "1Y"},  {6, "1M"},
                                      {8, "2C"},  {9, "2P"},  {10, "2W"}, {11, "2Y"}, {12, "2M"},
                                      {15, "2S"}, {16, "2L"}, {17, "2X"}, {22, "5I"}, {23, "5Q"},
                                      {24, "5X"}, {30, "1S"}, {31, "1L"}, {32, "1X"}};
constexpr SignalCode kGlonassSignals[] = {{2, "1C"},  {3, "1P"},  {8, "2C"}, {9, "2P"},
                                          {11, "3I"}, {12, "3Q"}, {13, "3X"}};
constexpr SignalCode kGalileoSignals[] = {
    {2, "1C"},  {3, "1A"},  {4, "1B"},  {5, "1X"},  {6, "1Z"},  {8, "6C"},  {9, "6A"},
    {10, "6B"}, {11, "6X"}, {12, "6Z"}, {14, "7I"}, {15, "7Q"}, {16, "7X"}, {18, "8I"},
    {19, "8Q"}, {20, "8X"}, {22, "5I"}, {23, "5Q"}, {24, "5X"}};
constexpr SignalCode kQzssSignals[] = {{2, "1C"},  {9, "6S"},  {10, "6L"}, {11, "6X"}, {15, "2S"},
                                       {16, "2L"}, {17, "2X"}, {22, "5I"}, {23, "5Q"}, {24, "5X"},
                                       {30, "1S"}, {31, "1L"}, {32, "1X"}};
constexpr SignalCode kSbasSignals[] = {{2, "1C"}, {22, "5I"}, {23, "5Q"}, {24, "5X"}};
constexpr SignalCode kBeidouSignals[] = {{2, "1I"},  {3, "1Q"},  {4, "1X"},  {8, "6I"}, {9, "6Q"},
                                         {10, "6X"}, {14, "7I"}, {15, "7Q"}, {16, "7X"}};

struct SystemSignals {
  int sys;
  int row;  // msm_signals row
  const SignalCode* codes;
  int count;
};
template <size_t N>
constexpr SystemSignals Row(int sys, int row, const SignalCode (&codes)[N]) {
  return {sys, row, codes, static_cast<int>(N)};
}
constexpr SystemSignals kSystems[] = {
    Row(SYS_GPS, 0, kGpsSignals),         Row(SYS_GLONASS, 1, kGlonassSignals),
    Row(SYS_GALILEO, 2, kGalileoSignals), Row(SYS_QZSS, 3, kQzssSignals),
    Row(SYS_SBAS, 4, kSbasSignals),       Row(SYS_BEIDOU, 5, kBeidouSignals)};

const SystemSignals* SignalsOf(int sys) {
  for (const SystemSignals& s : kSystems) {
    if (s.sys == sys) return &s;
  }
  return nullptr;
}

// Code and frequency numbers and the wavelength of each signal id, worked out once rather than
// per message.
struct SignalInfo {
  const char* text = "";
  uint8_t code = 0;
  int freq = 0;
  double wavelength = 0.0;  // of the frequency number; GLONASS channels are applied per satellite
};
using SignalInfoTable = std::array<std::array<SignalInfo, kMaxSignals + 1>, std::size(kSystems)>;

const SignalInfo& InfoOf(const SystemSignals* system, int id) {
  static const SignalInfo kNone;
  static const SignalInfoTable kTable = [] {
    SignalInfoTable table{};
    for (size_t s = 0; s < std::size(kSystems); ++s) {
      for (int i = 0; i < kSystems[s].count; ++i) {
        SignalInfo& info = table[s][kSystems[s].codes[i].id];
        info.text = kSystems[s].codes[i].text;
        info.code = code_from_text(info.text, &info.freq);
        // BeiDou B2 and B3 take the second and third slots.
        if (kSystems[s].sys == SYS_BEIDOU) {
          if (info.freq == 5) {
            info.freq = 2;
          } else if (info.freq == 4) {
            info.freq = 3;
          }
        }
        info.wavelength = wavelength_of_frequency(info.freq);
      }
    }
    return table;
  }();
  if (!system || id < 1 || id > kMaxSignals) return kNone;
  return kTable[static_cast<size_t>(system - kSystems)][id];
}

// The satellite and cell data of one message, in fixed-size storage.
struct MsmData {
  double rough_range[kMaxSats];  // metres; 0 = invalid
  double rough_rate[kMaxSats];   // m/s; 0 = invalid
  int extended_info[kMaxSats];
  double fine_range[kMaxCells];  // metres; kAbsent = invalid
  double fine_phase[kMaxCells];
  double fine_rate[kMaxCells];
  double cnr[kMaxCells];  // dB-Hz
  int lock[kMaxCells];
  int half_cycle[kMaxCells];
};

// One instance per kind, so that field widths and scales are constants.
template <const MsmKind& kind>
void ReadMsmData(const FrameBuffer& frame, int pos, int nsat, int ncell, MsmData& d) {
  FieldReader in(frame, pos);
  for (int i = 0; i < nsat; ++i) {
    d.rough_range[i] = 0.0;
    d.rough_rate[i] = 0.0;
    d.extended_info[i] = 0;
  }
  for (int j = 0; j < ncell; ++j) {
    d.fine_range[j] = d.fine_phase[j] = d.fine_rate[j] = kAbsent;
  }
  for (int i = 0; i < nsat; ++i) {
    const uint32_t ms = in.Unsigned(8);
    if (ms != 255) d.rough_range[i] = ms * kLightMillisecond;
  }
  if (kind.extended) {
    for (int i = 0; i < nsat; ++i) d.extended_info[i] = static_cast<int>(in.Unsigned(4));
  }
  for (int i = 0; i < nsat; ++i) {
    const uint32_t modulo = in.Unsigned(10);
    if (d.rough_range[i] != 0.0) d.rough_range[i] += modulo * Pow2(-10) * kLightMillisecond;
  }
  if (kind.extended) {
    for (int i = 0; i < nsat; ++i) {
      const int32_t rate = in.Signed(14);
      if (rate != -8192) d.rough_rate[i] = rate;
    }
  }
  const int32_t range_invalid = -(1 << (kind.range_bits - 1));
  const int32_t phase_invalid = -(1 << (kind.phase_bits - 1));
  for (int j = 0; j < ncell; ++j) {
    const int32_t v = in.Signed(kind.range_bits);
    if (v != range_invalid) d.fine_range[j] = v * kind.range_scale;
  }
  for (int j = 0; j < ncell; ++j) {
    const int32_t v = in.Signed(kind.phase_bits);
    if (v != phase_invalid) d.fine_phase[j] = v * kind.phase_scale;
  }
  for (int j = 0; j < ncell; ++j) d.lock[j] = static_cast<int>(in.Unsigned(kind.lock_bits));
  for (int j = 0; j < ncell; ++j) d.half_cycle[j] = static_cast<int>(in.Unsigned(1));
  for (int j = 0; j < ncell; ++j) d.cnr[j] = in.Unsigned(kind.cnr_bits) * kind.cnr_scale;
  if (kind.extended) {
    for (int j = 0; j < ncell; ++j) {
      const int32_t v = in.Signed(15);
      if (v != -16384) d.fine_rate[j] = v * 0.0001;
    }
  }
}

// Appends what snprintf(out + used, size - used, "%s", piece) would write, and counts the
// piece whole as snprintf does, so a piece cut at the row's end ends the row.
void AppendCut(char* out, size_t size, size_t& used, const char* piece, size_t length) {
  const size_t room = size - used - 1;
  const size_t copied = length < room ? length : room;
  std::memcpy(out + used, piece, copied);
  out[used + copied] = '\0';
  used += length;
}

// Rewrites the system's row of msm_signals: "L%s%s" with the code text, or "(%d)%s" with the
// signal id, the second %s being "," after every signal but the last. The row is bounded:
// 32 signal ids written as "(nn)," would need more room than the row has, so the text is cut
// at the row's end. Built by hand: this runs for every message.
void WriteSignalRow(RtcmDecoder* dec, int row, const MsmHeader& h, const char* const texts[],
                    const uint8_t codes[]) {
  char* out = dec->msm_signals[row];
  const size_t size = sizeof dec->msm_signals[row];
  size_t used = 0;
  out[0] = '\0';
  for (int i = 0; i < h.nsig && used + 1 < size; ++i) {
    char piece[16];
    size_t n = 0;
    if (codes[i] != 0) {
      piece[n++] = 'L';
      for (const char* t = texts[i]; *t; ++t) piece[n++] = *t;
    } else {
      piece[n++] = '(';
      const int id = h.signals[i];  // 1..32
      if (id >= 10) piece[n++] = static_cast<char>('0' + id / 10);
      piece[n++] = static_cast<char>('0' + id % 10);
      piece[n++] = ')';
    }
    if (i < h.nsig - 1) piece[n++] = ',';
    AppendCut(out, size, used, piece, n);
  }
}

void store_msm_cells(RtcmDecoder* dec, int sys, const MsmHeader& h, const MsmKind& kind,
                     const MsmData& d) {
  const int type = static_cast<int>(frame_field(dec->frame, 24, 12));
  const SystemSignals* table = SignalsOf(sys);

  // Signals: code numbers, frequency numbers and the text row.
  const char* texts[kMaxSignals];
  uint8_t codes[kMaxSignals];
  int freqs[kMaxSignals];
  double wavelengths[kMaxSignals];  // by frequency number; per satellite for GLONASS channels
  for (int i = 0; i < h.nsig; ++i) {
    const SignalInfo& info = InfoOf(table, h.signals[i]);
    texts[i] = info.text;
    codes[i] = info.code;
    freqs[i] = info.freq;
    wavelengths[i] = info.wavelength;
    if (codes[i] == 0) trace(2, "rtcm3 %d: unknown signal id=%2d\n", type, h.signals[i]);
  }
  if (table) {
    WriteSignalRow(dec, table->row, h, texts, codes);
    trace(2, "rtcm3 %d: signals=%s\n", type, dec->msm_signals[table->row]);
  }

  // Slot choice: per frequency the signal of highest priority; ties keep the earlier signal.
  int slot[kMaxSignals];
  int best[NUM_FREQ] = {-1, -1, -1};
  int best_priority[NUM_FREQ] = {0, 0, 0};
  for (int i = 0; i < h.nsig; ++i) {
    slot[i] = -1;
    if (codes[i] == 0 || freqs[i] < 1 || freqs[i] > NUM_FREQ) continue;
    const int f = freqs[i] - 1;
    const int priority = code_priority(sys, codes[i], dec->options);
    if (priority > best_priority[f]) {
      best_priority[f] = priority;
      best[f] = i;
    }
  }
  for (int f = 0; f < NUM_FREQ; ++f) {
    if (best[f] >= 0) slot[best[f]] = f;
  }
  for (int i = 0; i < h.nsig; ++i) {
    if (slot[i] < 0) trace(2, "rtcm msm: no space in obs data sys=%d code=%d\n", sys, codes[i]);
  }

  int cell = 0;
  for (int i = 0; i < h.nsat; ++i) {
    const int prn = sys == SYS_SBAS ? h.sats[i] + 119 : h.sats[i];
    const int number = sat_number(sys, prn);
    int index = -1;
    if (number == 0) {
      trace(2, "rtcm3 %d satellite error: prn=%d\n", type, prn);
    } else {
      apply_epoch_start_rule(dec);
      index = find_or_add_obs(&dec->obs, dec->time, number);
    }
    const bool channel_known = sys == SYS_GLONASS && kind.extended && d.extended_info[i] < 14;
    double channel_wavelength[2] = {0.0, 0.0};  // frequency number 2, any other
    if (channel_known) {
      const int k = d.extended_info[i] - 7;  // frequency channel number
      channel_wavelength[0] = glonass_wavelength(2, k);
      channel_wavelength[1] = glonass_wavelength(1, k);
    }
    for (int j = 0; j < h.nsig; ++j) {
      if (!h.cell_mask[i * h.nsig + j]) continue;
      const int c = cell++;  // cell data are consumed whether or not they are stored
      if (index < 0 || slot[j] < 0) continue;
      const int s = slot[j];
      ObsRecord& rec = dec->obs.records[index];

      const double wavelength =
          channel_known ? channel_wavelength[freqs[j] == 2 ? 0 : 1] : wavelengths[j];
      const double r = d.rough_range[i];
      if (r != 0.0 && d.fine_range[c] > kAbsentBelow) rec.range[s] = r + d.fine_range[c];
      if (r != 0.0 && d.fine_phase[c] > kAbsentBelow && wavelength > 0.0) {
        rec.phase[s] = (r + d.fine_phase[c]) / wavelength;
      }
      if (kind.extended && d.fine_rate[c] > kAbsentBelow && wavelength > 0.0) {
        rec.doppler[s] = static_cast<float>(-(d.rough_rate[i] + d.fine_rate[c]) / wavelength);
      }
      const int lost = loss_of_lock(d.lock[c], &dec->lock_indicator[number - 1][s]);
      rec.lli[s] = static_cast<uint8_t>(d.half_cycle[c] ? lost + 3 : lost);
      rec.snr[s] = static_cast<uint8_t>(static_cast<int>(d.cnr[c] * 4.0));
      rec.code[s] = codes[j];
    }
  }
}

template <const MsmKind& kind>
int DecodeMsm(RtcmDecoder* dec, int sys) {
  int sync = 0;
  int header_end = 0;
  MsmHeader h;
  if (decode_head_msm(dec, sys, &sync, nullptr, &h, &header_end) < 0) return -1;
  if (header_end + h.nsat * kind.satellite_bits + h.ncell * kind.cell_bits > dec->len * 8) {
    trace(2, "rtcm3 %d length error: nsat=%d ncell=%d len=%d\n",
          static_cast<int>(frame_field(dec->frame, 24, 12)), h.nsat, h.ncell, dec->len);
    return -1;
  }
  MsmData data;
  ReadMsmData<kind>(dec->frame, header_end, h.nsat, h.ncell, data);
  store_msm_cells(dec, sys, h, kind, data);
  dec->epoch_complete = sync == 0 ? 1 : 0;
  return sync == 0 ? 1 : 0;
}

}  // namespace

int decode_head_msm(RtcmDecoder* dec, int sys, int* sync, int* iod, MsmHeader* header,
                    int* header_end) {
  const FrameBuffer& frame = dec->frame;
  const int type = static_cast<int>(frame_field(frame, 24, 12));
  if (dec->len * 8 < kHeaderBits) {
    trace(2, "rtcm3 %d length error: len=%d\n", type, dec->len);
    return -1;
  }
  MsmHeader h;
  const int staid = static_cast<int>(frame_field(frame, 36, 12));
  const bool glonass = sys == SYS_GLONASS;
  const double epoch =
      glonass ? frame_field(frame, 51, 27) * 0.001 : frame_field(frame, 48, 30) * 0.001;
  const int flag = static_cast<int>(frame_field(frame, 78, 1));
  h.iod = static_cast<int>(frame_field(frame, 79, 3));
  h.reserved = static_cast<int>(frame_field(frame, 82, 7));
  h.clock_steering = static_cast<int>(frame_field(frame, 89, 2));
  h.external_clock = static_cast<int>(frame_field(frame, 91, 2));
  h.smoothing = static_cast<int>(frame_field(frame, 93, 1));
  h.smoothing_interval = static_cast<int>(frame_field(frame, 94, 3));
  // Masks are read a word at a time: a set bit k, counted from 1 at the top, adds id k.
  const uint64_t sat_mask =
      (uint64_t{frame_field(frame, 97, 32)} << 32) | frame_field(frame, 129, 32);
  for (int k = 0; k < kMaxSats; ++k) {
    if ((sat_mask >> (63 - k)) & 1u) h.sats[h.nsat++] = static_cast<uint8_t>(k + 1);
  }
  const uint32_t signal_mask = frame_field(frame, 161, 32);
  for (int k = 0; k < kMaxSignals; ++k) {
    if ((signal_mask >> (31 - k)) & 1u) h.signals[h.nsig++] = static_cast<uint8_t>(k + 1);
  }
  if (!check_station_id(dec, staid)) return -1;
  if (h.nsat * h.nsig > kMaxCells) {
    trace(2, "rtcm3 %d number of sats and sigs error: nsat=%d nsig=%d\n", type, h.nsat, h.nsig);
    return -1;
  }
  if (kHeaderBits + h.nsat * h.nsig > dec->len * 8) {
    trace(2, "rtcm3 %d length error: len=%d nsat=%d nsig=%d\n", type, dec->len, h.nsat, h.nsig);
    return -1;
  }
  // The epoch becomes the decoder's time only once the header is known to be sound, so a
  // refused message leaves the decoder as it was.
  if (glonass) {
    resolve_glonass_time_of_day(dec, epoch);
  } else {
    resolve_time_of_week(dec, sys == SYS_BEIDOU ? epoch + kGpsMinusBeidouSeconds : epoch);
  }
  const int ncells_possible = h.nsat * h.nsig;
  for (int first = 0; first < ncells_possible; first += 32) {
    const int n = ncells_possible - first < 32 ? ncells_possible - first : 32;
    const uint32_t word = frame_field(frame, kHeaderBits + first, n);
    for (int c = 0; c < n; ++c) {
      h.cell_mask[first + c] = static_cast<uint8_t>((word >> (n - 1 - c)) & 1u);
      h.ncell += h.cell_mask[first + c];
    }
  }
  if constexpr (kTraceOn) {
    trace(4, "decode_head_msm: time=%s sys=%d staid=%d nsat=%d nsig=%d sync=%d iod=%d ncell=%d\n",
          time_text(dec->time, 2), sys, staid, h.nsat, h.nsig, flag, h.iod, h.ncell);
  }
  if (dec->describe_messages) {
    append_description(dec, " staid=%4d %s nsat=%2d nsig=%2d iod=%2d ncell=%2d sync=%d", staid,
                       time_text(dec->time, 2), h.nsat, h.nsig, h.iod, h.ncell, flag);
  }
  if (sync) *sync = flag;
  if (iod) *iod = h.iod;
  if (header_end) *header_end = kHeaderBits + h.nsat * h.nsig;
  if (header) *header = h;
  return h.ncell;
}

int decode_msm_head_only(RtcmDecoder* dec, int sys) {
  int sync = 0;
  if (decode_head_msm(dec, sys, &sync, nullptr, nullptr, nullptr) < 0) return -1;
  dec->epoch_complete = sync == 0 ? 1 : 0;
  return sync == 0 ? 1 : 0;
}

int decode_msm_type4(RtcmDecoder* dec, int sys) {
  return DecodeMsm<kMsm4>(dec, sys);
}
int decode_msm_type5(RtcmDecoder* dec, int sys) {
  return DecodeMsm<kMsm5>(dec, sys);
}
int decode_msm_type6(RtcmDecoder* dec, int sys) {
  return DecodeMsm<kMsm6>(dec, sys);
}
int decode_msm_type7(RtcmDecoder* dec, int sys) {
  return DecodeMsm<kMsm7>(dec, sys);
}

}  // namespace rtcm
