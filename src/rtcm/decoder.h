#pragma once
// The decoder state record and every record it holds.
#include <cstdint>
#include <memory>

#include "rtcm/gnss_time.h"

namespace rtcm {

constexpr int FRAME_MAX = 1200;      // largest frame is 1029 bytes
constexpr int MESSAGE_COUNTS = 300;  // element type - 1000 for 1001..1299, element 0 otherwise
constexpr int TEXT_MAX = 64;         // station texts: room for 63 characters, 31 kept
constexpr int KEPT_TEXT = 31;
constexpr int MSM_SYSTEMS = 6;  // msm_signals rows: GPS, GLONASS, Galileo, QZSS, SBAS, BeiDou
constexpr int SSR_KINDS = 5;    // 0 orbit, 1 clock, 2 high-rate clock, 3 URA, 4 code bias

// One satellite at one epoch.
struct ObsRecord {
  GnssTime time;
  uint8_t sat = 0;
  uint8_t snr[NUM_FREQ] = {};  // 0.25 dB-Hz
  uint8_t lli[NUM_FREQ] = {};
  uint8_t code[NUM_FREQ] = {};
  double phase[NUM_FREQ] = {};   // cycles
  double range[NUM_FREQ] = {};   // metres
  float doppler[NUM_FREQ] = {};  // Hz
};

struct ObsSet {
  int count = 0;
  std::unique_ptr<ObsRecord[]> records;  // MAX_OBS, allocated by init_rtcm
};

struct StationInfo {
  char antenna_descriptor[TEXT_MAX] = {};
  char antenna_serial[TEXT_MAX] = {};
  char receiver_type[TEXT_MAX] = {};
  char receiver_version[TEXT_MAX] = {};
  char receiver_serial[TEXT_MAX] = {};
  int antenna_setup = 0;
  int itrf_year = 0;
  int delta_type = 0;       // 0 after 1005, 1 after 1006
  double position[3] = {};  // ECEF antenna reference point, metres
  double delta[3] = {};     // antenna offset, always 0
  double height = 0.0;      // antenna height, metres
};

// GPS or SBAS broadcast ephemeris.
struct Ephemeris {
  int satellite = 0;
  int iode = -1;
  int iodc = -1;
  int accuracy = 0;
  int svh = 0;
  int week = 0;
  int l2_codes = 0;
  int l2p_flag = 0;
  GnssTime toe;
  GnssTime toc;
  GnssTime reception_time;
  double semi_major_axis = 0.0;
  double eccentricity = 0.0;
  double inclination = 0.0;
  double ascending_node = 0.0;
  double perigee = 0.0;
  double mean_anomaly = 0.0;
  double mean_motion_delta = 0.0;
  double ascending_node_rate = 0.0;
  double inclination_rate = 0.0;
  double crc = 0.0;
  double crs = 0.0;
  double cuc = 0.0;
  double cus = 0.0;
  double cic = 0.0;
  double cis = 0.0;
  double toe_seconds = 0.0;
  double fit_interval = 0.0;  // hours
  double af0 = 0.0;
  double af1 = 0.0;
  double af2 = 0.0;
  double tgd = 0.0;
};

struct GlonassEphemeris {
  int satellite = 0;
  int iode = -1;  // t_b
  int frq = 0;
  int svh = 0;
  GnssTime toe;
  GnssTime tof;
  double position[3] = {};
  double velocity[3] = {};
  double acceleration[3] = {};
  double tau_n = 0.0;
  double gamma_n = 0.0;
};

struct NavData {
  int eph_count = 0;
  std::unique_ptr<Ephemeris[]> ephemeris;  // MAX_SAT, index satellite number - 1
  int glo_count = 0;
  std::unique_ptr<GlonassEphemeris[]> glonass;  // 1, index GLONASS slot - 1
};

// State-space corrections of one satellite.
struct SsrCorrection {
  GnssTime epoch[SSR_KINDS];
  double update_interval[SSR_KINDS] = {};
  int iod_ssr[SSR_KINDS] = {};
  int iode = 0;
  int iod_crc = 0;
  int ura = 0;
  int reference_datum = 0;
  double orbit[3] = {};       // radial, along, cross; metres
  double orbit_rate[3] = {};  // metres per second
  double clock[3] = {};       // C0 m, C1 m/s, C2 m/s^2
  double high_rate_clock = 0.0;
  float code_bias[MAX_CODE] = {};  // metres, index code number - 1
  uint8_t update = 0;
};

// The whole decoder state. Large (tens of kB): keep it on the heap or in an owning object.
struct RtcmDecoder {
  int staid = 0;
  int describe_messages = 0;
  GnssTime time;
  ObsSet obs;
  NavData navigation;
  StationInfo station;
  SsrCorrection ssr[MAX_SAT];
  char description[256] = {};
  char msm_signals[MSM_SYSTEMS][128] = {};
  int epoch_complete = 0;
  int last_eph_sat = 0;
  double legacy_phase[MAX_SAT][NUM_FREQ] = {};
  uint16_t lock_indicator[MAX_SAT][NUM_FREQ] = {};
  int frame_bytes = 0;
  int len = 0;
  uint8_t frame[FRAME_MAX] = {};
  // After a CRC failure, or after a frame found among bytes already held: frame[0..scan_from)
  // is used up and frame[scan_from..frame_bytes) still has to be searched for a preamble.
  // 0 while collecting a frame from new bytes.
  int scan_from = 0;
  // 1 when the last input call handed the frame at frame[0..len+3) to the dispatcher.
  int frame_decoded = 0;
  uint32_t message_counts[MESSAGE_COUNTS] = {};
  char options[256] = {};
  // Test seam for "now" (UTC). Not touched by init_rtcm/free_rtcm; empty = system clock.
  UtcClock utc_clock;
};

}  // namespace rtcm
