#pragma once
// Time values of the decoder, their conversions, the completion of truncated message times,
// satellite numbering and the observation code table.
#include <cstdint>
#include <functional>

namespace rtcm {

constexpr int MAX_SAT = 55;   // satellite numbers 1..55
constexpr int NUM_FREQ = 3;   // frequency slots per observation record
constexpr int MAX_OBS = 64;   // observation records per epoch
constexpr int MAX_CODE = 48;  // observation code numbers 1..48

// System codes, the `sys` argument throughout the decoder.
constexpr int SYS_NONE = 0;
constexpr int SYS_GPS = 1;
constexpr int SYS_SBAS = 2;
constexpr int SYS_GLONASS = 4;
constexpr int SYS_GALILEO = 8;
constexpr int SYS_QZSS = 16;
constexpr int SYS_BEIDOU = 32;

// Offsets between the time scales, one table for the decoder and for the tools that write epochs.
constexpr double kGpsMinusBeidouSeconds = 14.0;     // BeiDou time = GPS time - 14 s
constexpr double kGlonassMinusUtcSeconds = 10800.0; // GLONASS time = UTC + 3 h

// Whole seconds since 1970-01-01 in the time scale at hand plus a fraction; time 0 = unknown.
struct GnssTime {
  int64_t time = 0;
  double sec = 0.0;
};

// Source of "now" as UTC (seconds since 1970 in UTC, millisecond resolution). An empty
// clock means the operating system's clock; tests hold a decoder's clock to pin "now".
using UtcClock = std::function<GnssTime()>;
GnssTime system_utc_time();

GnssTime time_from_calendar(const double fields[6]);
void calendar_from_time(GnssTime t, double fields[6]);
GnssTime time_from_gps_week(int week, double sec);
GnssTime time_from_bds_week(int week, double sec);
double gps_week_from_time(GnssTime t, int* week);
double bds_week_from_time(GnssTime t, int* week);
GnssTime time_shift(GnssTime t, double sec);
double time_diff(GnssTime t1, GnssTime t2);
GnssTime utc_to_gps_time(GnssTime t);
// GPS - UTC (the leap seconds) at a UTC time.
double gps_minus_utc_seconds(GnssTime utc);
GnssTime gps_to_utc_time(GnssTime t);
GnssTime gps_to_bds_time(GnssTime t);
GnssTime bds_to_gps_time(GnssTime t);
// Current GPS time from the given UTC clock (the system clock when empty).
GnssTime current_gps_time(const UtcClock& clock = {});
// Calendar text with n decimals; the buffer is per thread and overwritten by the next call.
const char* time_text(GnssTime t, int n);

struct RtcmDecoder;
struct ObsSet;

// "Now" as GPS time through the decoder's clock seam.
GnssTime current_gps_time(const RtcmDecoder* dec);
// Sets dec->time to "now" while it is not known, as the reference for truncated times.
void ensure_reference_time(RtcmDecoder* dec);
// A time of day (s) moved by a day, if need be, to within 12 hours of the reference time of day.
double nearest_time_of_day(double tod, double ref);
// Full GPS week nearest to the current week (from the decoder's clock) for a 10-bit week.
int resolve_gps_week(const RtcmDecoder* dec, int week10);
// Sets dec->time from a GPS time of week in the week of dec->time.
void resolve_time_of_week(RtcmDecoder* dec, double tow);
// Sets dec->time from a GLONASS time of day (UTC + 3 h) near the day of dec->time.
void resolve_glonass_time_of_day(RtcmDecoder* dec, double tod);

int sat_number(int sys, int prn);
uint8_t code_from_text(const char* text, int* freq);
// The two-character text of a code number; "" for 0 or an unknown number.
const char* code_text(int code);
int code_priority(int sys, uint8_t code, const char* options);
double wavelength_of_frequency(int freq);
// Wavelength of GLONASS frequency 1 or 2 on a frequency channel (-7..6); 0 for other numbers.
double glonass_wavelength(int freq, int channel);

// Index of sat's record, adding a cleared record when absent; -1 when the set is full.
int find_or_add_obs(ObsSet* obs, GnssTime time, int sat);
// Loss-of-lock flag of a lock time indicator: 1 when it is 0 or fell below *previous, which
// then takes the new value.
uint8_t loss_of_lock(int lock, uint16_t* previous);
// Epoch start rule: clears the set when the epoch is complete or dec->time moved on.
void apply_epoch_start_rule(RtcmDecoder* dec);

}  // namespace rtcm
