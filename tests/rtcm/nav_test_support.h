#pragma once
// What the ephemeris and SSR tests share: a decoder with a pinned "now", comparing decoder
// times, and running rtcm3-summary --json over frames built in a test.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rtcm/decoder.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm_frame_builder.h"

namespace nav_test {

inline rtcm::GnssTime Calendar(double y, double mo, double d, double h = 0, double mi = 0,
                               double s = 0) {
  const double fields[6] = {y, mo, d, h, mi, s};
  return rtcm::time_from_calendar(fields);
}

inline bool SameTime(rtcm::GnssTime a, rtcm::GnssTime b) {
  return a.time == b.time && a.sec == b.sec;
}

// "Now" for every test: Wednesday 2024-03-06 12:00:00 UTC, GPS week 2304.
inline const rtcm::GnssTime kNowUtc = Calendar(2024, 3, 6, 12, 0, 0);

// A decoder whose UTC clock reads kNowUtc, fed whole frames.
class NavDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dec = std::make_unique<rtcm::RtcmDecoder>();
    ASSERT_EQ(rtcm::init_rtcm(dec.get()), 1);
    dec->utc_clock = [] { return kNowUtc; };
  }
  void TearDown() override { rtcm::free_rtcm(dec.get()); }

  // The result of the frame's last byte.
  int Feed(const std::vector<uint8_t>& frame) {
    int result = 0;
    for (const uint8_t byte : frame) result = rtcm::input_rtcm3(dec.get(), byte);
    return result;
  }

  std::unique_ptr<rtcm::RtcmDecoder> dec;
};

#ifdef RTCM3_SUMMARY_PATH
// Runs rtcm3-summary --json over the frames (written to a temporary file); one object per line.
inline std::vector<nlohmann::json> SummaryJson(const std::vector<std::vector<uint8_t>>& frames) {
  char path[] = "/tmp/rtcm-nav-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  const std::vector<uint8_t> bytes = fixtures::Concat(frames);
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  std::vector<nlohmann::json> lines;
  if (FILE* pipe = written
                       ? popen((std::string(RTCM3_SUMMARY_PATH) + " --json " + path).c_str(), "r")
                       : nullptr) {
    std::string line;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
      if (c != '\n') {
        line.push_back(static_cast<char>(c));
        continue;
      }
      lines.push_back(nlohmann::json::parse(line, nullptr, false));
      line.clear();
    }
    pclose(pipe);
  }
  unlink(path);
  return lines;
}
#endif

}  // namespace nav_test
