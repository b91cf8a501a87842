#include "positions/nmea_position.h"

namespace ntrip_host {

double AccuracyFromFixQuality(int quality) {
  switch (quality) {
    case 4:
      return 0.02;
    case 5:
      return 0.5;
    case 2:
      return 1.0;
    case 1:
    case 3:
      return 5.0;
    default:
      return 10.0;
  }
}

UtcMillis UtcDifference(UtcMillis a, UtcMillis b) {
  UtcMillis d = (a - b) % kMillisPerDay;
  if (d <= -kMillisPerDay / 2) d += kMillisPerDay;
  if (d > kMillisPerDay / 2) d -= kMillisPerDay;
  return d;
}

void NmeaPositionTracker::Feed(const NmeaParse& parse) {
  if (parse.status == NmeaStatus::kNoFix) {
    gga_.reset();
    return;
  }
  if (parse.status != NmeaStatus::kOk) return;
  if (const auto* gga = std::get_if<GgaFix>(&parse.sentence)) {
    gga_ = *gga;
  } else if (const auto* gst = std::get_if<GstStatistics>(&parse.sentence)) {
    if (gst_[0] && gst_[0]->utc == gst->utc) {
      gst_[0] = *gst;  // a repeated epoch replaces, it does not shift
    } else {
      gst_[1] = gst_[0];
      gst_[0] = *gst;
    }
  }
}

std::optional<PositionSample> NmeaPositionTracker::Current() const {
  if (!gga_) return std::nullopt;
  double accuracy = AccuracyFromFixQuality(gga_->quality);
  for (const auto& gst : gst_) {
    if (!gst) continue;
    const UtcMillis age = UtcDifference(gga_->utc, gst->utc);
    if (age < 0) continue;  // ahead of this GGA: belongs to the next epoch
    if (age <= kMaxGstAgeMillis) accuracy = gst->HorizontalAccuracy();
    break;
  }
  return MakeSample(gga_->latitude_deg, gga_->longitude_deg, gga_->altitude_msl_m, accuracy);
}

}  // namespace ntrip_host
