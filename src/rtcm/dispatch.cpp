#include "rtcm/dispatch.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "rtcm/ephemeris.h"
#include "rtcm/frame.h"
#include "rtcm/legacy_obs.h"
#include "rtcm/msm.h"
#include "rtcm/ssr.h"
#include "rtcm/station.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

using PlainDecoder = int (*)(RtcmDecoder*);
using SystemDecoder = int (*)(RtcmDecoder*, int);

int NotSupported(RtcmDecoder*, int type) {
  trace(2, "rtcm3 %d: not supported message\n", type);
  return 0;
}

// 1001/1003 and 1009/1011 carry no satellites the decoder keeps: the header alone tells
// whether the epoch ends here.
int HeaderOnly(RtcmDecoder* dec, int (*head)(RtcmDecoder*, int*)) {
  int sync = 0;
  if (head(dec, &sync) < 0) return -1;
  if (sync == 0) {
    dec->epoch_complete = 1;
    return 1;
  }
  return 0;
}

// One row per message number range; a row calls either a plain decoder or a decoder that
// takes the system code.
struct Route {
  int first;
  int last;
  PlainDecoder plain;
  SystemDecoder with_system;
};

int HeadOnly1001(RtcmDecoder* dec) {
  return HeaderOnly(dec, decode_head1001);
}
int HeadOnly1009(RtcmDecoder* dec) {
  return HeaderOnly(dec, decode_head1009);
}
int CountOnly(RtcmDecoder*) {
  return 0;
}

constexpr Route kRoutes[] = {
    {1001, 1001, HeadOnly1001, nullptr},    {1002, 1002, decode_type1002, nullptr},
    {1003, 1003, HeadOnly1001, nullptr},    {1004, 1004, decode_type1004, nullptr},
    {1005, 1005, decode_type1005, nullptr}, {1006, 1006, decode_type1006, nullptr},
    {1007, 1007, decode_type1007, nullptr}, {1008, 1008, decode_type1008, nullptr},
    {1009, 1009, HeadOnly1009, nullptr},    {1010, 1010, decode_type1010, nullptr},
    {1011, 1011, HeadOnly1009, nullptr},    {1012, 1012, decode_type1012, nullptr},
    {1013, 1013, CountOnly, nullptr},       {1019, 1019, decode_type1019, nullptr},
    {1020, 1020, decode_type1020, nullptr}, {1021, 1027, nullptr, NotSupported},
    {1030, 1032, nullptr, NotSupported},    {1033, 1033, decode_type1033, nullptr},
    {1034, 1035, nullptr, NotSupported},    {1037, 1039, nullptr, NotSupported},
    {1230, 1230, nullptr, NotSupported},    {63, 63, decode_type1042, nullptr},
    {1042, 1042, decode_type1042, nullptr}, {1044, 1044, decode_type1044, nullptr},
    {1045, 1045, decode_type1045, nullptr}, {1046, 1046, decode_type1046, nullptr},
};

// SSR groups of six: orbit, clock, code bias, orbit and clock, URA, high-rate clock.
constexpr SystemDecoder kSsrKinds[6] = {decode_ssr_orbit,     decode_ssr_clock,
                                        decode_ssr_code_bias, decode_ssr_orbit_clock,
                                        decode_ssr_ura,       decode_ssr_high_rate_clock};
struct SsrGroup {
  int first;
  int sys;
};
constexpr SsrGroup kSsrGroups[] = {{1057, SYS_GPS},  {1063, SYS_GLONASS}, {1240, SYS_GALILEO},
                                   {1246, SYS_QZSS}, {1252, SYS_SBAS},    {1258, SYS_BEIDOU}};

// MSM groups: type = base + kind, kind 1..7.
constexpr SystemDecoder kMsmKinds[8] = {
    nullptr,          decode_msm_head_only, decode_msm_head_only, decode_msm_head_only,
    decode_msm_type4, decode_msm_type5,     decode_msm_type6,     decode_msm_type7};
constexpr SsrGroup kMsmGroups[] = {{1070, SYS_GPS},  {1080, SYS_GLONASS}, {1090, SYS_GALILEO},
                                   {1100, SYS_SBAS}, {1110, SYS_QZSS},    {1120, SYS_BEIDOU}};

int Route(RtcmDecoder* dec, int type) {
  for (const auto& group : kMsmGroups) {
    const int kind = type - group.first;
    if (kind >= 1 && kind <= 7) return kMsmKinds[kind](dec, group.sys);
  }
  for (const auto& group : kSsrGroups) {
    const int kind = type - group.first;
    if (kind >= 0 && kind < 6) return kSsrKinds[kind](dec, group.sys);
  }
  for (const auto& route : kRoutes) {
    if (type < route.first || type > route.last) continue;
    return route.plain ? route.plain(dec) : route.with_system(dec, type);
  }
  return 0;  // any other type: counted only
}

}  // namespace

bool has_option(const RtcmDecoder* dec, const char* option) {
  return std::strstr(dec->options, option) != nullptr;
}

int decode_rtcm3(RtcmDecoder* dec) {
  const int type = static_cast<int>(frame_field(dec->frame, 24, 12));
  trace(3, "decode_rtcm3: len=%3d type=%d\n", dec->len, type);
  if (dec->describe_messages) {
    std::snprintf(dec->description, sizeof dec->description, "RTCM %4d (%4d):", type, dec->len);
  }
  if (has_option(dec, "-RT_INP")) {
    int week = 0;
    const double tow = gps_week_from_time(current_gps_time(dec), &week);
    dec->time = time_from_gps_week(week, std::floor(tow));
  }
  const int result = Route(dec, type);
  if (result >= 0) {
    const int index = (type >= 1001 && type <= 1299) ? type - 1000 : 0;
    ++dec->message_counts[index];
  }
  return result;
}

int check_station_id(RtcmDecoder* dec, int staid) {
  if (const char* p = std::strstr(dec->options, "-STA=")) {
    int wanted = 0;
    if (std::sscanf(p, "-STA=%d", &wanted) == 1 && staid != wanted) return 0;
  }
  if (dec->staid != 0 && dec->epoch_complete == 0) {
    if (staid == dec->staid) return 1;
    trace(2, "rtcm3 %d staid invalid id=%d %d\n", static_cast<int>(frame_field(dec->frame, 24, 12)),
          staid, dec->staid);
    dec->staid = 0;
    return 0;
  }
  dec->staid = staid;
  return 1;
}

}  // namespace rtcm
