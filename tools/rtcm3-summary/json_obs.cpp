#include "json_obs.h"

#include "rtcm/gnss_time.h"

using nlohmann::json;

namespace {

json TimeJson(const rtcm::GnssTime& t) {
  return json{{"time", t.time}, {"sec", t.sec}, {"text", rtcm::time_text(t, 3)}};
}

}  // namespace

json StationJson(const rtcm::StationInfo& s) {
  return json{{"antenna_descriptor", s.antenna_descriptor},
              {"antenna_setup", s.antenna_setup},
              {"antenna_serial", s.antenna_serial},
              {"receiver_type", s.receiver_type},
              {"receiver_version", s.receiver_version},
              {"receiver_serial", s.receiver_serial},
              {"itrf_year", s.itrf_year},
              {"delta_type", s.delta_type},
              {"position", {s.position[0], s.position[1], s.position[2]}},
              {"delta", {s.delta[0], s.delta[1], s.delta[2]}},
              {"height", s.height}};
}

json EpochJson(const rtcm::RtcmDecoder& dec) {
  json satellites = json::array();
  for (int i = 0; i < dec.obs.count; ++i) {
    const rtcm::ObsRecord& r = dec.obs.records[i];
    json slots = json::array();
    for (int s = 0; s < rtcm::NUM_FREQ; ++s) {
      slots.push_back(json{{"code", rtcm::code_text(r.code[s])},
                           {"phase", r.phase[s]},
                           {"range", r.range[s]},
                           {"doppler", r.doppler[s]},
                           {"snr", r.snr[s]},
                           {"lli", r.lli[s]}});
    }
    satellites.push_back(json{{"sat", r.sat}, {"time", TimeJson(r.time)}, {"slots", slots}});
  }
  return json{{"staid", dec.staid}, {"time", TimeJson(dec.time)}, {"satellites", satellites}};
}
