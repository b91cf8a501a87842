// Turns a stream of parsed GGA/GST sentences into position samples.
#pragma once

#include "positions/nmea_sentence.h"
#include "common/position_sample.h"

#include <optional>

namespace ntrip_host {

// Accuracy (m) assumed from the GGA fix quality when no usable GST is at hand. Deliberately
// not scaled by HDOP: the figures are coarse class values, meant to fall on the right side of
// the component's accuracy threshold, not to be an error estimate.
//   4 RTK fixed    0.02 m
//   5 RTK float    0.5  m
//   2 DGPS / SBAS  1.0  m
//   1 GPS, 3 PPS   5.0  m
//   other (6 dead reckoning, 7 manual, 8 simulator, ...) 10.0 m
double AccuracyFromFixQuality(int quality);

// A GST older than this (relative to the GGA's time) no longer speaks for the position: past it
// the fix-quality table is used, so a receiver that stopped sending GST after losing RTK does
// not keep claiming centimetres.
inline constexpr UtcMillis kMaxGstAgeMillis = 10'000;

// Holds the latest GGA and GST and answers "what is the position now".
//
// Epoch rule: the GST of the GGA's own epoch (same UTC time, in whichever order they arrive)
// gives the accuracy; otherwise the newest GST not after the GGA is still used, until a newer one
// arrives, as long as it is at most kMaxGstAgeMillis older. A GST ahead of the current GGA (the
// next epoch's, arriving first) waits for its GGA. A GGA without a fix clears the position.
class NmeaPositionTracker {
 public:
  void Feed(const NmeaParse& parse);

  // The position of the latest GGA with a fix, or nothing.
  std::optional<PositionSample> Current() const;

 private:
  std::optional<GgaFix> gga_;
  // The two newest GST, newest first: the newest may already belong to the coming epoch.
  std::optional<GstStatistics> gst_[2];
};

// Signed difference a - b of two times of day, folded into (-12 h, 12 h] so midnight wraps.
UtcMillis UtcDifference(UtcMillis a, UtcMillis b);

}  // namespace ntrip_host
