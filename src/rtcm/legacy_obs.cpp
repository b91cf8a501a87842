// Legacy RTK observation messages: GPS 1001-1004 and GLONASS 1009-1012.
#include "rtcm/legacy_obs.h"

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

constexpr double kGpsRangeModulus = 299792.458;  // metres per ambiguity unit
constexpr double kGlonassRangeModulus = 599584.916;
constexpr double kRangeResolution = 0.02;
constexpr double kPhaseResolution = 0.0005;
constexpr int32_t kInvalidPhaseDifference = -524288;  // lowest signed 20-bit value
constexpr int32_t kInvalidRangeDifference = -8192;    // lowest signed 14-bit value
constexpr double kRolloverWindow = 750.0;             // cycles
constexpr double kRolloverStep = 1500.0;

// Layout of one message kind.
struct LegacyKind {
  bool glonass;
  bool dual_frequency;
  int first_satellite_bit;
  int satellite_bits;
  const char* number_error;  // trace text for a satellite without a number
};

constexpr LegacyKind k1002{false, false, 88, 74, "rtcm3 1002 satellite number error: prn=%d\n"};
constexpr LegacyKind k1004{false, true, 88, 125,
                           "rtcm3 1004 satellite number error: sys=%d prn=%d\n"};
constexpr LegacyKind k1010{true, false, 85, 79, "rtcm3 1010 satellite number error: prn=%d\n"};
constexpr LegacyKind k1012{true, true, 85, 130,
                           "rtcm3 1012 satellite number error: sys=%d prn=%d\n"};

// The raw fields of one satellite block.
struct SatelliteFields {
  int id = 0;
  int channel = 0;  // GLONASS frequency channel number + 7
  int l1_code = 0;
  uint32_t l1_range = 0;
  int32_t l1_phase_difference = 0;
  int l1_lock = 0;
  int ambiguity = 0;
  int l1_cnr = 0;
  int l2_code = 0;
  int32_t l2_range_difference = 0;
  int32_t l2_phase_difference = 0;
  int l2_lock = 0;
  int l2_cnr = 0;
};

SatelliteFields ReadSatellite(const LegacyKind& kind, FieldReader& in) {
  SatelliteFields f;
  // Every unsigned field here is 25 bits or fewer, so the int fields hold them exactly.
  f.id = static_cast<int>(in.Unsigned(6));
  f.l1_code = static_cast<int>(in.Unsigned(1));
  if (kind.glonass) f.channel = static_cast<int>(in.Unsigned(5));
  f.l1_range = in.Unsigned(kind.glonass ? 25 : 24);
  f.l1_phase_difference = in.Signed(20);
  f.l1_lock = static_cast<int>(in.Unsigned(7));
  f.ambiguity = static_cast<int>(in.Unsigned(kind.glonass ? 7 : 8));
  f.l1_cnr = static_cast<int>(in.Unsigned(8));
  if (kind.dual_frequency) {
    f.l2_code = static_cast<int>(in.Unsigned(2));
    f.l2_range_difference = in.Signed(14);
    f.l2_phase_difference = in.Signed(20);
    f.l2_lock = static_cast<int>(in.Unsigned(7));
    f.l2_cnr = static_cast<int>(in.Unsigned(8));
  }
  return f;
}

// The phase-range field wraps with the pseudorange modulus; keep the carrier phase continuous
// with the previous epoch of the same satellite and frequency.
double ContinuePhase(double cycles, double& previous) {
  if (previous != 0.0) {
    if (cycles < previous - kRolloverWindow) {
      cycles += kRolloverStep;
    } else if (cycles > previous + kRolloverWindow) {
      cycles -= kRolloverStep;
    }
  }
  previous = cycles;
  return cycles;
}

uint8_t SnrOf(int cnr_field) {
  const double db_hz = cnr_field * 0.25;
  if (db_hz <= 0.0 || db_hz >= 255.5) return 0;
  return static_cast<uint8_t>(static_cast<int>(db_hz * 4.0 + 0.5));
}

uint8_t GpsL2Code(int indicator) {
  static constexpr uint8_t kCodes[4] = {18, 19, 15, 20};  // 2X, 2P, 2D, 2W
  return kCodes[indicator & 3];
}

void StoreSatellite(RtcmDecoder* dec, const LegacyKind& kind, const SatelliteFields& f,
                    ObsRecord& rec, int number) {
  double l1_wavelength = wavelength_of_frequency(1);
  double l2_wavelength = wavelength_of_frequency(2);
  if (kind.glonass) {
    l1_wavelength = glonass_wavelength(1, f.channel - 7);
    l2_wavelength = glonass_wavelength(2, f.channel - 7);
  }
  const double modulus = kind.glonass ? kGlonassRangeModulus : kGpsRangeModulus;
  double* phase_history = dec->legacy_phase[number - 1];
  uint16_t* lock_history = dec->lock_indicator[number - 1];

  const double pr1 = f.ambiguity * modulus + f.l1_range * kRangeResolution;
  if (f.l1_phase_difference != kInvalidPhaseDifference) {
    rec.range[0] = pr1;
    const double cp1 =
        ContinuePhase(f.l1_phase_difference * kPhaseResolution / l1_wavelength, phase_history[0]);
    rec.phase[0] = pr1 / l1_wavelength + cp1;
  }
  rec.lli[0] = loss_of_lock(f.l1_lock, &lock_history[0]);
  rec.snr[0] = SnrOf(f.l1_cnr);
  rec.code[0] = f.l1_code ? 2 : 1;  // 1P : 1C
  if (!kind.dual_frequency) return;

  if (f.l2_range_difference != kInvalidRangeDifference) {
    rec.range[1] = pr1 + f.l2_range_difference * kRangeResolution;
  }
  if (f.l2_phase_difference != kInvalidPhaseDifference) {
    const double cp2 =
        ContinuePhase(f.l2_phase_difference * kPhaseResolution / l2_wavelength, phase_history[1]);
    rec.phase[1] = pr1 / l2_wavelength + cp2;
  }
  rec.lli[1] = loss_of_lock(f.l2_lock, &lock_history[1]);
  rec.snr[1] = SnrOf(f.l2_cnr);
  if (kind.glonass) {
    rec.code[1] = f.l2_code == 0 ? 14 : 19;  // 2C : 2P
  } else {
    rec.code[1] = GpsL2Code(f.l2_code);
  }
}

int DecodeObservations(RtcmDecoder* dec, const LegacyKind& kind) {
  int sync = 0;
  const int nsat = kind.glonass ? decode_head1009(dec, &sync) : decode_head1001(dec, &sync);
  if (nsat < 0) return -1;

  FieldReader in(dec->frame, kind.first_satellite_bit);
  const int frame_bits = dec->len * 8;
  for (int i = 0; i < nsat; ++i) {
    // A full set or a frame shorter than announced ends the message; what fit is kept.
    if (dec->obs.count >= MAX_OBS) break;
    if (in.pos() + kind.satellite_bits > frame_bits) break;
    const SatelliteFields f = ReadSatellite(kind, in);

    int sys = kind.glonass ? SYS_GLONASS : SYS_GPS;
    int prn = f.id;
    if (!kind.glonass && f.id >= 40) {
      sys = SYS_SBAS;
      prn = f.id + 80;
    }
    const int number = sat_number(sys, prn);
    if (number == 0) {
      if (kind.dual_frequency) {
        trace(2, kind.number_error, sys, prn);
      } else {
        trace(2, kind.number_error, prn);
      }
      continue;
    }
    apply_epoch_start_rule(dec);
    const int index = find_or_add_obs(&dec->obs, dec->time, number);
    if (index < 0) continue;
    StoreSatellite(dec, kind, f, dec->obs.records[index], number);
  }

  if (kind.dual_frequency) dec->epoch_complete = sync == 0 ? 1 : 0;
  return sync == 0 ? 1 : 0;
}

void Describe(RtcmDecoder* dec, int staid, int nsat, int sync) {
  if (!dec->describe_messages) return;
  append_description(dec, " staid=%4d %s nsat=%2d sync=%d", staid, time_text(dec->time, 2), nsat,
                     sync);
}

}  // namespace

int decode_head1001(RtcmDecoder* dec, int* sync) {
  const int type = static_cast<int>(frame_field(dec->frame, 24, 12));
  if (dec->len * 8 < 88) {
    trace(2, "rtcm3 %d length error: len=%d\n", type, dec->len);
    return -1;
  }
  const int staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  const double tow = frame_field(dec->frame, 48, 30) * 0.001;
  const int flag = static_cast<int>(frame_field(dec->frame, 78, 1));
  const int nsat = static_cast<int>(frame_field(dec->frame, 79, 5));
  if (!check_station_id(dec, staid)) return -1;
  resolve_time_of_week(dec, tow);
  if constexpr (kTraceOn) {
    trace(4, "decode_head1001: time=%s nsat=%d sync=%d\n", time_text(dec->time, 2), nsat, flag);
  }
  Describe(dec, staid, nsat, flag);
  if (sync) *sync = flag;
  return nsat;
}

int decode_head1009(RtcmDecoder* dec, int* sync) {
  const int type = static_cast<int>(frame_field(dec->frame, 24, 12));
  if (dec->len * 8 < 85) {
    trace(2, "rtcm3 %d length error: len=%d\n", type, dec->len);
    return -1;
  }
  const int staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  const double tod = frame_field(dec->frame, 48, 27) * 0.001;
  const int flag = static_cast<int>(frame_field(dec->frame, 75, 1));
  const int nsat = static_cast<int>(frame_field(dec->frame, 76, 5));
  if (!check_station_id(dec, staid)) return -1;
  resolve_glonass_time_of_day(dec, tod);
  if constexpr (kTraceOn) {
    trace(4, "decode_head1009: time=%s nsat=%d sync=%d\n", time_text(dec->time, 2), nsat, flag);
  }
  Describe(dec, staid, nsat, flag);
  if (sync) *sync = flag;
  return nsat;
}

int decode_type1002(RtcmDecoder* dec) {
  return DecodeObservations(dec, k1002);
}
int decode_type1004(RtcmDecoder* dec) {
  return DecodeObservations(dec, k1004);
}
int decode_type1010(RtcmDecoder* dec) {
  return DecodeObservations(dec, k1010);
}
int decode_type1012(RtcmDecoder* dec) {
  return DecodeObservations(dec, k1012);
}

}  // namespace rtcm
