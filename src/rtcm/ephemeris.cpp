#include "rtcm/ephemeris.h"

#include <cmath>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

// Four scale factors are rounded decimals rather than exact powers of two, and semicircles
// turn into radians with a 14-digit pi: the stored values depend on both to the last bit.
constexpr double kP2_43 = 1.13686837721616e-13;
constexpr double kP2_55 = 2.775557561562891e-17;
constexpr double kP2_33 = 1.164153218269348e-10;
constexpr double kP2_40 = 9.09494701772928e-13;
constexpr double kPi = 3.1415926535898;

enum class Sign { Unsigned, Signed };
enum class Unit { Plain, Semicircles };

// One field of message 1019. A row fills either an int or a double of the record; the one
// row with neither (t_oc) is kept aside until the week is known.
struct GpsField {
  int pos;
  int len;
  Sign sign;
  double scale;
  Unit unit;
  int Ephemeris::*int_field;
  double Ephemeris::*real_field;
};

constexpr GpsField Int(int pos, int len, int Ephemeris::*field) {
  return {pos, len, Sign::Unsigned, 1.0, Unit::Plain, field, nullptr};
}
constexpr GpsField Real(int pos, int len, Sign sign, double scale, double Ephemeris::*field,
                        Unit unit = Unit::Plain) {
  return {pos, len, sign, scale, unit, nullptr, field};
}

constexpr auto S = Sign::Signed;
constexpr auto U = Sign::Unsigned;
constexpr auto kSemi = Unit::Semicircles;

constexpr GpsField kTocRow{80, 16, Sign::Unsigned, 16.0, Unit::Plain, nullptr, nullptr};

// Message 1019 after the message number. `satellite` and `week` first receive the raw ID
// and the 10-bit week; `semi_major_axis` the square root of A; `fit_interval` the raw bit.
constexpr GpsField k1019Fields[] = {
    Int(36, 6, &Ephemeris::satellite),
    Int(42, 10, &Ephemeris::week),
    Int(52, 4, &Ephemeris::accuracy),
    Int(56, 2, &Ephemeris::l2_codes),
    Real(58, 14, S, kP2_43, &Ephemeris::inclination_rate, kSemi),
    Int(72, 8, &Ephemeris::iode),
    kTocRow,
    Real(96, 8, S, kP2_55, &Ephemeris::af2),
    Real(104, 16, S, kP2_43, &Ephemeris::af1),
    Real(120, 22, S, 0x1p-31, &Ephemeris::af0),
    Int(142, 10, &Ephemeris::iodc),
    Real(152, 16, S, 0x1p-5, &Ephemeris::crs),
    Real(168, 16, S, kP2_43, &Ephemeris::mean_motion_delta, kSemi),
    Real(184, 32, S, 0x1p-31, &Ephemeris::mean_anomaly, kSemi),
    Real(216, 16, S, 0x1p-29, &Ephemeris::cuc),
    Real(232, 32, U, kP2_33, &Ephemeris::eccentricity),
    Real(264, 16, S, 0x1p-29, &Ephemeris::cus),
    Real(280, 32, U, 0x1p-19, &Ephemeris::semi_major_axis),
    Real(312, 16, U, 16.0, &Ephemeris::toe_seconds),
    Real(328, 16, S, 0x1p-29, &Ephemeris::cic),
    Real(344, 32, S, 0x1p-31, &Ephemeris::ascending_node, kSemi),
    Real(376, 16, S, 0x1p-29, &Ephemeris::cis),
    Real(392, 32, S, 0x1p-31, &Ephemeris::inclination, kSemi),
    Real(424, 16, S, 0x1p-5, &Ephemeris::crc),
    Real(440, 32, S, 0x1p-31, &Ephemeris::perigee, kSemi),
    Real(472, 24, S, kP2_43, &Ephemeris::ascending_node_rate, kSemi),
    Real(496, 8, S, 0x1p-31, &Ephemeris::tgd),
    Int(504, 6, &Ephemeris::svh),
    Int(510, 1, &Ephemeris::l2p_flag),
    Real(511, 1, U, 1.0, &Ephemeris::fit_interval),
};

// One axis of message 1020: velocity, position, acceleration, all sign-magnitude, in km.
struct GlonassAxis {
  int velocity_pos;      // 24 bits, 2^-20 km/s
  int position_pos;      // 27 bits, 2^-11 km
  int acceleration_pos;  // 5 bits, 2^-30 km/s^2
};
constexpr GlonassAxis k1020Axes[3] = {{72, 96, 123}, {128, 152, 179}, {184, 208, 235}};

int frame_bits(const RtcmDecoder* dec) {
  return dec->len * 8;
}

bool long_enough(const RtcmDecoder* dec, int type, int min_bits) {
  if (frame_bits(dec) >= min_bits) return true;
  trace(2, "rtcm3 %d length error: len=%d\n", type, dec->len);
  return false;
}

// The fields that the description of the BeiDou, QZSS and Galileo messages needs.
struct Span {
  int pos;
  int len;
};
struct BriefLayout {
  int type;
  int min_bits;
  int sys;
  Span id;
  int prn_offset;
  Span week;
  Span iode;
  Span iodc;  // len 0: the message has none
  Span toc;
  Span toe;
  double time_unit;  // seconds per unit of t_oc and t_oe
  Span health[4];    // in description order; len 0: unused
};

// Positions from the messages' field lists; t_oc and t_oe in units of 8 s (BeiDou), 16 s
// (QZSS) and 60 s (Galileo).
constexpr BriefLayout k1042{
    .type = 1042,
    .min_bits = 535,
    .sys = SYS_BEIDOU,
    .id = {36, 6},
    .prn_offset = 0,
    .week = {42, 13},
    .iode = {73, 5},
    .iodc = {152, 5},
    .toc = {78, 17},
    .toe = {323, 17},
    .time_unit = 8.0,
    .health = {{534, 1}},
};
constexpr BriefLayout k1044{
    .type = 1044,
    .min_bits = 509,
    .sys = SYS_QZSS,
    .id = {36, 4},
    .prn_offset = 192,
    .week = {470, 10},
    .iode = {102, 8},
    .iodc = {498, 10},
    .toc = {40, 16},
    .toe = {270, 16},
    .time_unit = 16.0,
    .health = {{484, 6}},
};
// Health: E5a signal health, E5a data validity.
constexpr BriefLayout k1045{
    .type = 1045,
    .min_bits = 520,
    .sys = SYS_GALILEO,
    .id = {36, 6},
    .prn_offset = 0,
    .week = {42, 12},
    .iode = {54, 10},
    .iodc = {0, 0},
    .toc = {86, 14},
    .toe = {318, 14},
    .time_unit = 60.0,
    .health = {{510, 2}, {512, 1}},
};
// Health: E5b and E1-B signal health, then E5b and E1-B data validity.
constexpr BriefLayout k1046{
    .type = 1046,
    .min_bits = 528,
    .sys = SYS_GALILEO,
    .id = {36, 6},
    .prn_offset = 0,
    .week = {42, 12},
    .iode = {54, 10},
    .iodc = {0, 0},
    .toc = {86, 14},
    .toe = {318, 14},
    .time_unit = 60.0,
    .health = {{520, 2}, {523, 2}, {522, 1}, {525, 1}},
};

// BeiDou, QZSS and Galileo satellites have no satellite number, so these messages are read
// only as far as their description goes and never stored.
int decode_brief(RtcmDecoder* dec, const BriefLayout& l) {
  if (!long_enough(dec, l.type, l.min_bits)) return -1;
  const FrameBuffer& f = dec->frame;
  auto read = [&f](Span s) {
    return s.len > 0 ? static_cast<int>(frame_field(f, s.pos, s.len)) : 0;
  };
  const int prn = read(l.id) + l.prn_offset;
  const int week = read(l.week);
  const int iode = read(l.iode);
  const int iodc = read(l.iodc);
  const double toc = read(l.toc) * l.time_unit;
  const double toe = read(l.toe) * l.time_unit;
  int health[4];
  for (int i = 0; i < 4; ++i) health[i] = read(l.health[i]);

  if (dec->describe_messages) {
    switch (l.type) {
      case 1042:
        append_description(dec, " prn=%2d iode=%3d iodc=%3d week=%d toe=%6.0f toc=%6.0f svh=%02X",
                           prn, iode, iodc, week, toe, toc, health[0]);
        break;
      case 1044:
        append_description(dec, " prn=%3d iode=%3d iodc=%3d week=%d toe=%6.0f toc=%6.0f svh=%02X",
                           prn, iode, iodc, week, toe, toc, health[0]);
        break;
      case 1045:
        append_description(dec, " prn=%2d iode=%3d week=%d toe=%6.0f toc=%6.0f hs=%d dvs=%d", prn,
                           iode, week, toe, toc, health[0], health[1]);
        break;
      default:
        append_description(dec, " prn=%2d iode=%3d week=%d toe=%6.0f toc=%6.0f hs=%d %d dvs=%d %d",
                           prn, iode, week, toe, toc, health[0], health[1], health[2], health[3]);
        break;
    }
  }
  if (sat_number(l.sys, prn) == 0) {
    trace(2, "rtcm3 %d satellite number error: prn=%d\n", l.type, prn);
    return -1;
  }
  return 0;  // numbered, but there is no table for this system
}

}  // namespace

int decode_type1019(RtcmDecoder* dec) {
  if (!long_enough(dec, 1019, 512)) return -1;
  Ephemeris eph;
  double toc_seconds = 0.0;
  for (const GpsField& row : k1019Fields) {
    const double raw = row.sign == Sign::Signed
                           ? static_cast<double>(frame_field_signed(dec->frame, row.pos, row.len))
                           : static_cast<double>(frame_field(dec->frame, row.pos, row.len));
    if (row.int_field) {
      eph.*row.int_field = static_cast<int>(raw);
      continue;
    }
    double value = raw * row.scale;
    if (row.unit == Unit::Semicircles) value *= kPi;
    if (row.real_field)
      eph.*row.real_field = value;
    else
      toc_seconds = value;
  }
  int prn = eph.satellite;
  int sys = SYS_GPS;
  if (prn >= 40) {
    sys = SYS_SBAS;
    prn += 80;
  }
  if (dec->describe_messages)
    append_description(dec, " prn=%2d iode=%3d iodc=%3d week=%d toe=%6.0f toc=%6.0f svh=%02X", prn,
                       eph.iode, eph.iodc, eph.week, eph.toe_seconds, toc_seconds, eph.svh);
  const int sat = sat_number(sys, prn);
  if (sat == 0) {
    trace(2, "rtcm3 1019 satellite number error: prn=%d\n", prn);
    return -1;
  }
  eph.satellite = sat;
  eph.week = resolve_gps_week(dec, eph.week);
  eph.toe = time_from_gps_week(eph.week, eph.toe_seconds);
  eph.toc = time_from_gps_week(eph.week, toc_seconds);
  eph.reception_time = dec->time;
  eph.semi_major_axis *= eph.semi_major_axis;
  eph.fit_interval = eph.fit_interval == 0.0 ? 4.0 : 0.0;

  if (!dec->navigation.ephemeris || sat > dec->navigation.eph_count) return -1;  // released
  Ephemeris& stored = dec->navigation.ephemeris[sat - 1];
  if (!has_option(dec, "-EPHALL") && eph.iode == stored.iode) return 0;
  stored = eph;
  dec->last_eph_sat = sat;
  return 2;
}

int decode_type1020(RtcmDecoder* dec) {
  if (!long_enough(dec, 1020, 384)) return -1;
  const FrameBuffer& f = dec->frame;
  GlonassEphemeris geph;
  const int slot = static_cast<int>(frame_field(f, 36, 6));
  geph.frq = static_cast<int>(frame_field(f, 42, 5)) - 7;
  const double tk_hours = frame_field(f, 51, 5);
  const double tk_minutes = frame_field(f, 56, 6);
  const double tk_seconds = frame_field(f, 62, 1) * 30.0;
  const int bn = static_cast<int>(frame_field(f, 63, 1));
  const int tb = static_cast<int>(frame_field(f, 65, 7));
  for (int i = 0; i < 3; ++i) {
    const GlonassAxis& axis = k1020Axes[i];
    geph.velocity[i] = bits_sign_magnitude(f, axis.velocity_pos, 24) * 0x1p-20 * 1000.0;
    geph.position[i] = bits_sign_magnitude(f, axis.position_pos, 27) * 0x1p-11 * 1000.0;
    geph.acceleration[i] = bits_sign_magnitude(f, axis.acceleration_pos, 5) * 0x1p-30 * 1000.0;
  }
  geph.gamma_n = bits_sign_magnitude(f, 241, 11) * kP2_40;
  geph.tau_n = bits_sign_magnitude(f, 255, 22) * 0x1p-30;

  const int sat = sat_number(SYS_GLONASS, slot);
  if (sat == 0) {
    trace(2, "rtcm3 1020 satellite number error: prn=%d\n", slot);
    return -1;
  }
  if (dec->describe_messages)
    append_description(dec, " prn=%2d tk=%02.0f:%02.0f:%02.0f frq=%2d bn=%d tb=%d", slot, tk_hours,
                       tk_minutes, tk_seconds, geph.frq, bn, tb);
  geph.satellite = sat;
  geph.svh = bn;
  geph.iode = tb;

  ensure_reference_time(dec);
  int week = 0;
  const double tow = gps_week_from_time(gps_to_utc_time(dec->time), &week);
  const double tod = std::fmod(tow, 86400.0);
  const double day_start = tow - tod;
  // GLONASS time runs 3 hours ahead of UTC.
  const double tof =
      nearest_time_of_day(tk_hours * 3600.0 + tk_minutes * 60.0 + tk_seconds - kGlonassMinusUtcSeconds, tod);
  geph.tof = utc_to_gps_time(time_from_gps_week(week, day_start + tof));
  const double toe = nearest_time_of_day(tb * 900.0 - kGlonassMinusUtcSeconds, tod);
  geph.toe = utc_to_gps_time(time_from_gps_week(week, day_start + toe));

  if (!dec->navigation.glonass || slot > dec->navigation.glo_count) return -1;  // released
  GlonassEphemeris& stored = dec->navigation.glonass[slot - 1];
  if (!has_option(dec, "-EPHALL") && std::fabs(time_diff(geph.toe, stored.toe)) < 1.0 &&
      geph.svh == stored.svh)
    return 0;
  stored = geph;
  dec->last_eph_sat = sat;
  return 2;
}

int decode_type1042(RtcmDecoder* dec) {
  return decode_brief(dec, k1042);
}
int decode_type1044(RtcmDecoder* dec) {
  return decode_brief(dec, k1044);
}
int decode_type1045(RtcmDecoder* dec) {
  return decode_brief(dec, k1045);
}
int decode_type1046(RtcmDecoder* dec) {
  return decode_brief(dec, k1046);
}

}  // namespace rtcm
