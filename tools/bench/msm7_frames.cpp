#include "msm7_frames.h"

#include <ctime>

#include "rtcm_frame_builder.h"

namespace bench {

std::string Msm7Frame(int type, std::uint32_t tow_ms, bool last, int nsat,
                      const std::vector<int>& signals) {
  fixtures::BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(last ? 0 : 1, 1);
  w.Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  std::uint64_t sat_mask = 0;
  for (int s = 1; s <= nsat; ++s) sat_mask |= std::uint64_t{1} << (64 - s);
  w.Unsigned(sat_mask, 64);
  std::uint32_t sig_mask = 0;
  for (int id : signals) sig_mask |= 1u << (32 - id);
  w.Unsigned(sig_mask, 32);
  const int ncell = nsat * static_cast<int>(signals.size());
  for (int c = 0; c < ncell; ++c) w.Unsigned(1, 1);
  for (int s = 0; s < nsat; ++s) w.Unsigned(70 + s, 8);
  for (int s = 0; s < nsat; ++s) w.Unsigned(7, 4);
  for (int s = 0; s < nsat; ++s) w.Unsigned(100 + s, 10);
  for (int s = 0; s < nsat; ++s) w.Signed(-300 + s, 14);
  for (int c = 0; c < ncell; ++c) w.Signed(1000 * c, 20);
  for (int c = 0; c < ncell; ++c) w.Signed(2000 * c, 24);
  for (int c = 0; c < ncell; ++c) w.Unsigned(500, 10);
  for (int c = 0; c < ncell; ++c) w.Unsigned(0, 1);
  for (int c = 0; c < ncell; ++c) w.Unsigned(700, 10);
  for (int c = 0; c < ncell; ++c) w.Signed(-50 * c, 15);
  return fixtures::AsString(fixtures::FrameOf(type, w));
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace bench
