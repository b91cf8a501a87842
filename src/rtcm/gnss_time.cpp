#include "rtcm/gnss_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "rtcm/decoder.h"

namespace rtcm {
namespace {

constexpr double kGpsOrigin[6] = {1980, 1, 6, 0, 0, 0};
constexpr double kBdsOrigin[6] = {2006, 1, 1, 0, 0, 0};
constexpr int kWeekSeconds = 604800;

// UTC date of each leap second, newest first, with GPS-UTC negated; a year of 0 ends it.
constexpr double kLeapSeconds[][7] = {
    {2017, 1, 1, 0, 0, 0, -18}, {2015, 7, 1, 0, 0, 0, -17}, {2012, 7, 1, 0, 0, 0, -16},
    {2009, 1, 1, 0, 0, 0, -15}, {2006, 1, 1, 0, 0, 0, -14}, {1999, 1, 1, 0, 0, 0, -13},
    {1997, 7, 1, 0, 0, 0, -12}, {1996, 1, 1, 0, 0, 0, -11}, {1994, 7, 1, 0, 0, 0, -10},
    {1993, 7, 1, 0, 0, 0, -9},  {1992, 7, 1, 0, 0, 0, -8},  {1991, 1, 1, 0, 0, 0, -7},
    {1990, 1, 1, 0, 0, 0, -6},  {1988, 1, 1, 0, 0, 0, -5},  {1985, 7, 1, 0, 0, 0, -4},
    {1983, 7, 1, 0, 0, 0, -3},  {1982, 7, 1, 0, 0, 0, -2},  {1981, 7, 1, 0, 0, 0, -1},
    {0, 0, 0, 0, 0, 0, 0}};

constexpr const char* kCodeTexts[MAX_CODE + 1] = {
    "",   "1C", "1P", "1W", "1Y", "1M", "1N", "1S", "1L", "1E", "1A", "1B", "1X",
    "1Z", "2C", "2D", "2S", "2L", "2X", "2P", "2W", "2Y", "2M", "2N", "5I", "5Q",
    "5X", "7I", "7Q", "7X", "6A", "6B", "6C", "6X", "6Z", "6S", "6L", "8L", "8Q",
    "8X", "2I", "2Q", "6I", "6Q", "3I", "3Q", "3X", "1I", "1Q"};
constexpr uint8_t kCodeFrequencies[MAX_CODE + 1] = {
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3,
    3, 3, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 2, 2, 4, 4, 3, 3, 3, 1, 1};

struct PriorityRow {
  int sys;
  const char* option;  // "-GL" style prefix of the system's option
  const char* letters[6];
};
constexpr PriorityRow kPriorities[] = {
    {SYS_GPS, "-GL", {"CPYWMNSL", "PYWCMNDSLX", "IQX", "", "", ""}},
    {SYS_GLONASS, "-RL", {"PC", "PC", "IQX", "", "", ""}},
    {SYS_GALILEO, "-EL", {"CABXZ", "", "IQX", "ABCXZ", "IQX", "IQX"}},
    {SYS_QZSS, "-JL", {"CSLXZ", "SLX", "IQX", "SLX", "", ""}},
    {SYS_SBAS, "-SL", {"C", "", "IQX", "", "", ""}},
    {SYS_BEIDOU, "-CL", {"IQX", "IQX", "IQX", "IQX", "IQX", ""}},
};

constexpr double kSpeedOfLight = 299792458.0;
constexpr double kFrequencies[6] = {1575.42e6, 1227.60e6, 1176.45e6,
                                    1278.75e6, 1207.14e6, 1191.795e6};

GnssTime TimeFromWeek(const double origin[6], int week, double sec) {
  GnssTime t = time_from_calendar(origin);
  if (sec < -1e9 || sec > 1e9) sec = 0.0;
  const double whole = std::floor(sec);
  t.time += static_cast<int64_t>(kWeekSeconds) * week + static_cast<int64_t>(whole);
  t.sec = sec - whole;
  return t;
}

double WeekFromTime(const double origin[6], GnssTime t, int* week) {
  const GnssTime t0 = time_from_calendar(origin);
  const int64_t seconds = t.time - t0.time;
  const int64_t w = seconds / kWeekSeconds;  // truncated towards zero
  if (week) *week = static_cast<int>(w);
  return static_cast<double>(seconds - w * kWeekSeconds) + t.sec;
}

}  // namespace

GnssTime system_utc_time() {
  using namespace std::chrono;
  // The system clock counts UTC seconds since 1970 without leap seconds, as GnssTime does.
  const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  GnssTime t;
  t.time = ms / 1000;
  t.sec = static_cast<double>(ms % 1000) * 0.001;
  return t;
}

GnssTime time_from_calendar(const double fields[6]) {
  static constexpr int kMonthStart[] = {1, 32, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  GnssTime t;
  const int year = static_cast<int>(fields[0]);
  const int month = static_cast<int>(fields[1]);
  const int day = static_cast<int>(fields[2]);
  if (year < 1970 || year > 2099 || month < 1 || month > 12) return t;
  const int64_t days = static_cast<int64_t>(year - 1970) * 365 + (year - 1969) / 4 +
                       kMonthStart[month - 1] + day - 2 + ((year % 4 == 0 && month >= 3) ? 1 : 0);
  const double whole = std::floor(fields[5]);
  t.time = days * 86400 + static_cast<int64_t>(fields[3]) * 3600 +
           static_cast<int64_t>(fields[4]) * 60 + static_cast<int64_t>(whole);
  t.sec = fields[5] - whole;
  return t;
}

void calendar_from_time(GnssTime t, double fields[6]) {
  static constexpr int kMonthDays[48] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31,
                                         31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31,
                                         31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31,
                                         31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t days = t.time / 86400;
  int64_t second_of_day = t.time - days * 86400;
  if (second_of_day < 0) {  // before 1970: keep the time of day positive
    second_of_day += 86400;
    --days;
  }
  int64_t rest = days % 1461;
  int64_t cycles = days / 1461;
  if (rest < 0) {
    rest += 1461;
    --cycles;
  }
  int month = 0;
  for (; month < 48; ++month) {
    if (rest < kMonthDays[month]) break;
    rest -= kMonthDays[month];
  }
  fields[0] = static_cast<double>(1970 + cycles * 4 + month / 12);
  fields[1] = month % 12 + 1;
  fields[2] = static_cast<double>(rest + 1);
  fields[3] = static_cast<double>(second_of_day / 3600);
  fields[4] = static_cast<double>(second_of_day % 3600 / 60);
  fields[5] = static_cast<double>(second_of_day % 60) + t.sec;
}

GnssTime time_from_gps_week(int week, double sec) {
  return TimeFromWeek(kGpsOrigin, week, sec);
}
GnssTime time_from_bds_week(int week, double sec) {
  return TimeFromWeek(kBdsOrigin, week, sec);
}
double gps_week_from_time(GnssTime t, int* week) {
  return WeekFromTime(kGpsOrigin, t, week);
}
double bds_week_from_time(GnssTime t, int* week) {
  return WeekFromTime(kBdsOrigin, t, week);
}

GnssTime time_shift(GnssTime t, double sec) {
  t.sec += sec;
  const double whole = std::floor(t.sec);
  t.time += static_cast<int64_t>(whole);
  t.sec -= whole;
  return t;
}

double time_diff(GnssTime t1, GnssTime t2) {
  return static_cast<double>(t1.time - t2.time) + t1.sec - t2.sec;
}

GnssTime utc_to_gps_time(GnssTime t) {
  for (int i = 0; kLeapSeconds[i][0] > 0; ++i) {
    if (time_diff(t, time_from_calendar(kLeapSeconds[i])) >= 0.0) {
      return time_shift(t, -kLeapSeconds[i][6]);
    }
  }
  return t;
}

double gps_minus_utc_seconds(GnssTime utc) {
  return time_diff(utc_to_gps_time(utc), utc);
}

GnssTime gps_to_utc_time(GnssTime t) {
  for (int i = 0; kLeapSeconds[i][0] > 0; ++i) {
    const GnssTime shifted = time_shift(t, kLeapSeconds[i][6]);
    if (time_diff(shifted, time_from_calendar(kLeapSeconds[i])) >= 0.0) return shifted;
  }
  return t;
}

GnssTime gps_to_bds_time(GnssTime t) {
  return time_shift(t, -kGpsMinusBeidouSeconds);
}
GnssTime bds_to_gps_time(GnssTime t) {
  return time_shift(t, kGpsMinusBeidouSeconds);
}

GnssTime current_gps_time(const UtcClock& clock) {
  return utc_to_gps_time(clock ? clock() : system_utc_time());
}

GnssTime current_gps_time(const RtcmDecoder* dec) {
  return current_gps_time(dec->utc_clock);
}

void ensure_reference_time(RtcmDecoder* dec) {
  if (dec->time.time == 0) dec->time = current_gps_time(dec);
}

double nearest_time_of_day(double tod, double ref) {
  if (tod < ref - 43200.0) return tod + 86400.0;
  if (tod > ref + 43200.0) return tod - 86400.0;
  return tod;
}

const char* time_text(GnssTime t, int n) {
  thread_local char text[64];
  if (n < 0) n = 0;
  if (n > 12) n = 12;
  if (1.0 - t.sec < 0.5 / std::pow(10.0, n)) {
    t.time += 1;
    t.sec = 0.0;
  }
  double fields[6];
  calendar_from_time(t, fields);
  std::snprintf(text, sizeof text, "%04.0f/%02.0f/%02.0f %02.0f:%02.0f:%0*.*f", fields[0],
                fields[1], fields[2], fields[3], fields[4], n <= 0 ? 2 : n + 3, n, fields[5]);
  return text;
}

int resolve_gps_week(const RtcmDecoder* dec, int week10) {
  int base = 0;
  gps_week_from_time(current_gps_time(dec), &base);
  if (base < 1560) base = 1560;
  // Floor division keeps the result nearest to the current week for any base.
  const int shift = base - week10 + 512;
  const int cycles = shift >= 0 ? shift / 1024 : -((-shift + 1023) / 1024);
  return week10 + 1024 * cycles;
}

void resolve_time_of_week(RtcmDecoder* dec, double tow) {
  ensure_reference_time(dec);
  int week = 0;
  const double ref = gps_week_from_time(dec->time, &week);
  if (tow < ref - 302400.0) {
    tow += 604800.0;
  } else if (tow > ref + 302400.0) {
    tow -= 604800.0;
  }
  dec->time = time_from_gps_week(week, tow);
}

void resolve_glonass_time_of_day(RtcmDecoder* dec, double tod) {
  ensure_reference_time(dec);
  GnssTime t = time_shift(gps_to_utc_time(dec->time), kGlonassMinusUtcSeconds);
  int week = 0;
  const double tow = gps_week_from_time(t, &week);
  const double ref = std::fmod(tow, 86400.0);
  t = time_from_gps_week(week, tow - ref + nearest_time_of_day(tod, ref));
  dec->time = utc_to_gps_time(time_shift(t, -kGlonassMinusUtcSeconds));
}

int sat_number(int sys, int prn) {
  if (prn <= 0) return 0;
  switch (sys) {
    case SYS_GPS:
      return prn <= 32 ? prn : 0;
    case SYS_SBAS:
      return (prn >= 120 && prn <= 142) ? prn - 87 : 0;
    case SYS_GLONASS:
      return prn == 1 ? 34 : 0;
    default:
      return 0;
  }
}

uint8_t code_from_text(const char* text, int* freq) {
  if (freq) *freq = 0;
  if (!text) return 0;
  // Every code is two characters: compare those and the end of the text, without strcmp.
  if (text[0] == '\0' || text[1] == '\0' || text[2] != '\0') return 0;
  for (int i = 1; i <= MAX_CODE; ++i) {
    if (kCodeTexts[i][0] == text[0] && kCodeTexts[i][1] == text[1]) {
      if (freq) *freq = kCodeFrequencies[i];
      return static_cast<uint8_t>(i);
    }
  }
  return 0;
}

const char* code_text(int code) {
  return (code >= 1 && code <= MAX_CODE) ? kCodeTexts[code] : "";
}

int code_priority(int sys, uint8_t code, const char* options) {
  if (code < 1 || code > MAX_CODE) return 0;
  const PriorityRow* row = nullptr;
  for (const PriorityRow& r : kPriorities) {
    if (r.sys == sys) row = &r;
  }
  if (!row) return 0;
  const char* text = kCodeTexts[code];
  if (options && options[0] != '\0') {
    // The first option of the system whose frequency digit matches decides.
    for (const char* p = std::strstr(options, row->option); p;
         p = std::strstr(p + 1, row->option)) {
      char chosen[3] = {};
      if (std::sscanf(p + 3, "%2s", chosen) != 1) continue;
      if (chosen[0] != text[0]) continue;
      return chosen[1] == text[1] ? 15 : 0;
    }
  }
  const int freq = kCodeFrequencies[code];
  if (freq < 1 || freq > 6) return 0;
  const char* found = std::strchr(row->letters[freq - 1], text[1]);
  if (!found || text[1] == '\0') return 0;
  return 14 - static_cast<int>(found - row->letters[freq - 1]);
}

double wavelength_of_frequency(int freq) {
  if (freq < 1 || freq > 6) return 0.0;
  return kSpeedOfLight / kFrequencies[freq - 1];
}

double glonass_wavelength(int freq, int channel) {
  if (freq == 1) return kSpeedOfLight / (1.602e9 + channel * 562500.0);
  if (freq == 2) return kSpeedOfLight / (1.246e9 + channel * 437500.0);
  return 0.0;
}

int find_or_add_obs(ObsSet* obs, GnssTime time, int sat) {
  for (int i = 0; i < obs->count; ++i) {
    if (obs->records[i].sat == sat) return i;
  }
  if (obs->count >= MAX_OBS) return -1;
  ObsRecord& record = obs->records[obs->count];
  record = ObsRecord{};
  record.time = time;
  record.sat = static_cast<uint8_t>(sat);
  return obs->count++;
}

uint8_t loss_of_lock(int lock, uint16_t* previous) {
  const uint8_t lost = (lock == 0 || lock < *previous) ? 1 : 0;
  *previous = static_cast<uint16_t>(lock);
  return lost;
}

void apply_epoch_start_rule(RtcmDecoder* dec) {
  if (dec->epoch_complete || std::fabs(time_diff(dec->obs.records[0].time, dec->time)) > 1e-9) {
    dec->epoch_complete = 0;
    dec->obs.count = 0;
  }
}

}  // namespace rtcm
