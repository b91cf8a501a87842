#include "json_nav.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "rtcm/gnss_time.h"

namespace {

using nlohmann::json;

// GPS time as calendar text, week and time of week; null when the time is not known.
json TimeJson(rtcm::GnssTime t) {
  if (t.time == 0) return nullptr;
  int week = 0;
  const double tow = rtcm::gps_week_from_time(t, &week);
  return {{"text", rtcm::time_text(t, 3)}, {"gps_week", week}, {"tow_s", tow}};
}

json EphemerisJson(const rtcm::Ephemeris& eph) {
  const bool sbas = eph.satellite > 32;
  return {
      {"satellite", eph.satellite},
      {"system", sbas ? "SBAS" : "GPS"},
      {"prn", sbas ? eph.satellite + 87 : eph.satellite},
      {"iode", eph.iode},
      {"iodc", eph.iodc},
      {"accuracy_index", eph.accuracy},
      {"health", eph.svh},
      {"week", eph.week},
      {"l2_codes", eph.l2_codes},
      {"l2p_flag", eph.l2p_flag},
      {"toe", TimeJson(eph.toe)},
      {"toc", TimeJson(eph.toc)},
      {"reception_time", TimeJson(eph.reception_time)},
      {"semi_major_axis_m", eph.semi_major_axis},
      {"eccentricity", eph.eccentricity},
      {"inclination_rad", eph.inclination},
      {"ascending_node_rad", eph.ascending_node},
      {"perigee_rad", eph.perigee},
      {"mean_anomaly_rad", eph.mean_anomaly},
      {"mean_motion_delta_rad_s", eph.mean_motion_delta},
      {"ascending_node_rate_rad_s", eph.ascending_node_rate},
      {"inclination_rate_rad_s", eph.inclination_rate},
      {"crc_m", eph.crc},
      {"crs_m", eph.crs},
      {"cuc_rad", eph.cuc},
      {"cus_rad", eph.cus},
      {"cic_rad", eph.cic},
      {"cis_rad", eph.cis},
      {"toe_s", eph.toe_seconds},
      {"fit_interval_h", eph.fit_interval},
      {"af0_s", eph.af0},
      {"af1_s_s", eph.af1},
      {"af2_s_s2", eph.af2},
      {"tgd_s", eph.tgd},
  };
}

json Vector3(const double (&v)[3]) {
  return json::array({v[0], v[1], v[2]});
}

json GlonassJson(const rtcm::GlonassEphemeris& geph) {
  return {
      {"satellite", geph.satellite},
      {"system", "GLONASS"},
      {"slot", 1},  // the only slot with a satellite number
      {"tb_index", geph.iode},
      {"frequency_channel", geph.frq},
      {"health", geph.svh},
      {"toe", TimeJson(geph.toe)},
      {"tof", TimeJson(geph.tof)},
      {"position_m", Vector3(geph.position)},
      {"velocity_m_s", Vector3(geph.velocity)},
      {"acceleration_m_s2", Vector3(geph.acceleration)},
      {"tau_n_s", geph.tau_n},
      {"gamma_n", geph.gamma_n},
  };
}

// SSR message groups of six, in the order orbit, clock, code bias, orbit and clock, URA,
// high-rate clock.
struct SsrGroup {
  int first;
  int sys;
  const char* name;
};
constexpr SsrGroup kSsrGroups[] = {
    {1057, rtcm::SYS_GPS, "GPS"},         {1063, rtcm::SYS_GLONASS, "GLONASS"},
    {1240, rtcm::SYS_GALILEO, "Galileo"}, {1246, rtcm::SYS_QZSS, "QZSS"},
    {1252, rtcm::SYS_SBAS, "SBAS"},       {1258, rtcm::SYS_BEIDOU, "BeiDou"}};

constexpr int kOrbit = 0, kClock = 1, kHighRateClock = 2, kUra = 3, kCodeBias = 4;
constexpr const char* kKindNames[rtcm::SSR_KINDS] = {"orbit", "clock", "high_rate_clock", "ura",
                                                     "code_bias"};

// Kinds stored by each message of a group.
std::vector<int> KindsOfMessage(int index) {
  switch (index) {
    case 0:
      return {kOrbit};
    case 1:
      return {kClock};
    case 2:
      return {kCodeBias};
    case 3:
      return {kOrbit, kClock};
    case 4:
      return {kUra};
    default:
      return {kHighRateClock};
  }
}

int PrnOf(int sys, int sat) {
  if (sys == rtcm::SYS_GLONASS) return 1;  // satellite 34 is GLONASS slot 1 here
  if (sys == rtcm::SYS_SBAS) return sat + 87;
  return sat;
}

json KindJson(const rtcm::SsrCorrection& rec, int kind) {
  json out{{"epoch", TimeJson(rec.epoch[kind])},
           {"update_interval_s", rec.update_interval[kind]},
           {"iod_ssr", rec.iod_ssr[kind]}};
  switch (kind) {
    case kOrbit:
      out["iode"] = rec.iode;
      out["iod_crc"] = rec.iod_crc;
      out["reference_datum"] = rec.reference_datum;
      out["radial_along_cross_m"] = Vector3(rec.orbit);
      out["radial_along_cross_rate_m_s"] = Vector3(rec.orbit_rate);
      break;
    case kClock:
      out["c0_m"] = rec.clock[0];
      out["c1_m_s"] = rec.clock[1];
      out["c2_m_s2"] = rec.clock[2];
      break;
    case kHighRateClock:
      out["high_rate_clock_m"] = rec.high_rate_clock;
      break;
    case kUra:
      out["ura_indicator"] = rec.ura;
      break;
    default: {
      json biases = json::object();
      for (int i = 0; i < rtcm::MAX_CODE; ++i) {
        if (rec.code_bias[i] != 0.0f) biases[rtcm::code_text(i + 1)] = rec.code_bias[i];
      }
      out["code_bias_m"] = biases;
      break;
    }
  }
  return out;
}

// The records as they were after the previous SSR message, to tell which ones this message
// wrote: the decoder keeps no list of them. The tool runs one decoder per process.
struct SsrSnapshot {
  const rtcm::RtcmDecoder* decoder = nullptr;
  std::array<rtcm::SsrCorrection, rtcm::MAX_SAT> records{};
};

template <typename T, std::size_t N>
bool SameArray(const T (&a)[N], const T (&b)[N]) {
  return std::memcmp(a, b, sizeof a) == 0;
}

// Field by field: the record has padding that a whole-object comparison would read.
bool SameRecord(const rtcm::SsrCorrection& a, const rtcm::SsrCorrection& b) {
  for (int kind = 0; kind < rtcm::SSR_KINDS; ++kind) {
    if (a.epoch[kind].time != b.epoch[kind].time || a.epoch[kind].sec != b.epoch[kind].sec) {
      return false;
    }
  }
  return SameArray(a.update_interval, b.update_interval) && SameArray(a.iod_ssr, b.iod_ssr) &&
         a.iode == b.iode && a.iod_crc == b.iod_crc && a.ura == b.ura &&
         a.reference_datum == b.reference_datum && SameArray(a.orbit, b.orbit) &&
         SameArray(a.orbit_rate, b.orbit_rate) && SameArray(a.clock, b.clock) &&
         a.high_rate_clock == b.high_rate_clock && SameArray(a.code_bias, b.code_bias) &&
         a.update == b.update;
}

void AddSsrJson(json& out, const rtcm::RtcmDecoder& dec, const SsrGroup& group, int index) {
  static SsrSnapshot snapshot;
  if (snapshot.decoder != &dec) snapshot = SsrSnapshot{&dec, {}};
  const std::vector<int> kinds = KindsOfMessage(index);
  json satellites = json::array();
  for (int sat = 1; sat <= rtcm::MAX_SAT; ++sat) {
    const rtcm::SsrCorrection& rec = dec.ssr[sat - 1];
    if (SameRecord(rec, snapshot.records[sat - 1])) continue;
    json entry{{"satellite", sat}, {"prn", PrnOf(group.sys, sat)}};
    for (const int kind : kinds) entry[kKindNames[kind]] = KindJson(rec, kind);
    satellites.push_back(entry);
    snapshot.records[sat - 1] = rec;
  }
  json kind_names = json::array();
  for (const int kind : kinds) kind_names.push_back(kKindNames[kind]);
  out["ssr"] = {{"system", group.name},
                {"kinds", kind_names},
                {"epoch", TimeJson(dec.time)},
                {"satellites", satellites}};
}

}  // namespace

void AddNavigationJson(nlohmann::json& out, const rtcm::RtcmDecoder& dec, int message_type,
                       int result) {
  if (result < 0) return;
  if (message_type == 1019 && result == 2 && dec.last_eph_sat >= 1 &&
      dec.last_eph_sat <= dec.navigation.eph_count) {
    out["ephemeris"] = EphemerisJson(dec.navigation.ephemeris[dec.last_eph_sat - 1]);
    return;
  }
  if (message_type == 1020 && result == 2 && dec.navigation.glo_count > 0) {
    out["glonass_ephemeris"] = GlonassJson(dec.navigation.glonass[0]);
    return;
  }
  for (const SsrGroup& group : kSsrGroups) {
    const int index = message_type - group.first;
    if (index >= 0 && index < 6) {
      AddSsrJson(out, dec, group, index);
      return;
    }
  }
}
