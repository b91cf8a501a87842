// Observation messages of the recordings in data/, checked against values worked out by hand
// from their raw fields (rough and fine ranges, rates, lock, CNR), with "now" pinned near the
// recorded epoch.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "obs_frames.h"
#include "rtcm/summary.h"

namespace {

using namespace obs_test;
using rtcm::ObsRecord;

// The recorded MSM7 epoch is at GPS time of week 204137.001 s (BeiDou 204123.001 s, GLONASS
// time of day 42119.001 s); week 2300 stands in for the unknown recording week.
constexpr uint32_t kMsm7TowMs = 204137001;
constexpr uint32_t kMsm3TowMs = 84967000;

rtcm::UtcClock ClockNear(uint32_t tow_ms) {
  return [tow_ms] {
    return rtcm::gps_to_utc_time(rtcm::time_from_gps_week(kWeek, tow_ms * 0.001 + 60.0));
  };
}

// The frames of a recording, found by their preamble and length (the recordings hold nothing
// between frames that starts with the preamble).
std::vector<Bytes> FramesOf(const std::string& data) {
  std::vector<Bytes> frames;
  size_t i = 0;
  while (i + 3 <= data.size()) {
    if (static_cast<uint8_t>(data[i]) != 0xD3) {
      ++i;
      continue;
    }
    const size_t length =
        ((static_cast<uint8_t>(data[i + 1]) & 3u) << 8) | static_cast<uint8_t>(data[i + 2]);
    if (i + length + 6 > data.size()) break;
    frames.emplace_back(data.begin() + i, data.begin() + i + length + 6);
    i += length + 6;
  }
  return frames;
}

int TypeOf(const Bytes& frame) {
  return (frame[3] << 4) | (frame[4] >> 4);
}

class RecordedMsm7 : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string data = fixtures::ReadRecording("pygpsdata-RTCM3.log");
    ASSERT_FALSE(data.empty());
    frames = FramesOf(data);
    dec->utc_clock = ClockNear(kMsm7TowMs);
  }
  // Feeds frames up to and including the first of the given type; its result.
  int FeedThrough(int type) {
    for (; next < frames.size(); ++next) {
      const int result = Feed(dec.get(), frames[next]);
      if (TypeOf(frames[next]) == type) {
        ++next;
        return result;
      }
    }
    ADD_FAILURE() << "no message " << type;
    return -2;
  }
  const ObsRecord* Find(int sat) const {
    for (int i = 0; i < dec->obs.count; ++i) {
      if (dec->obs.records[i].sat == sat) return &dec->obs.records[i];
    }
    return nullptr;
  }

  DecoderPtr dec = PinnedDecoder();
  std::vector<Bytes> frames;
  size_t next = 0;
};

TEST_F(RecordedMsm7, MessagesOfTheFourSystemsFormOneEpochEndedByBeidou) {
  EXPECT_EQ(FeedThrough(1005), 5);
  EXPECT_EQ(FeedThrough(1077), 0);
  EXPECT_EQ(dec->obs.count, 10);
  EXPECT_EQ(FeedThrough(1087), 0);  // GLONASS slots 3..23: no satellite number
  EXPECT_EQ(FeedThrough(1097), 0);  // Galileo: no satellite number
  EXPECT_EQ(FeedThrough(1127), 1);  // BeiDou, sync 0
  EXPECT_EQ(dec->staid, 0);
  ASSERT_EQ(dec->obs.count, 10);
  const int expected_sats[] = {5, 7, 9, 13, 14, 15, 17, 19, 20, 30};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(dec->obs.records[i].sat, expected_sats[i]);
    EXPECT_EQ(dec->obs.records[i].time.time, GpsTime(kMsm7TowMs).time);
    EXPECT_NEAR(dec->obs.records[i].time.sec, 0.001, 1e-6);
  }
}

TEST_F(RecordedMsm7, GpsCellsGiveTheHandComputedObservations) {
  ASSERT_EQ(FeedThrough(1127), 1);
  struct Expected {
    int sat;
    int slot;
    double range;
    double phase;
    double doppler;
    int snr;
    int code;
  };
  // range = rough + fine pseudorange, phase = (rough + fine phase range) / wavelength,
  // doppler = -(rough + fine phase range rate) / wavelength, snr = CNR x 4
  const Expected cells[] = {
      {5, 0, 22486233.843815, 118165954.582266, 940.247237, 180, 1},
      {5, 1, 22486233.466891, 92077369.004786, 732.645034, 152, 17},
      {9, 0, 24511694.350321, 128809822.326099, 3381.146049, 156, 1},
      {9, 1, 24511698.846614, 100371309.936905, 2634.644927, 148, 17},
      {15, 1, 24017302.585058, 98346838.796328, -2645.023281, 136, 17},
      {19, 0, 24613865.520372, 129346632.460451, -3382.475048, 124, 1},
      {30, 0, 21388810.601596, 112398957.235643, 952.290201, 184, 1},
  };
  for (const Expected& e : cells) {
    const ObsRecord* r = Find(e.sat);
    ASSERT_NE(r, nullptr) << e.sat;
    EXPECT_NEAR(r->range[e.slot], e.range, 1e-5) << e.sat << "/" << e.slot;
    EXPECT_NEAR(r->phase[e.slot], e.phase, 1e-5) << e.sat << "/" << e.slot;
    EXPECT_NEAR(r->doppler[e.slot], e.doppler, 1e-3) << e.sat << "/" << e.slot;
    EXPECT_EQ(r->snr[e.slot], e.snr) << e.sat << "/" << e.slot;
    EXPECT_EQ(r->code[e.slot], e.code) << e.sat << "/" << e.slot;
    EXPECT_EQ(r->lli[e.slot], 0) << e.sat << "/" << e.slot;
  }
  // Satellites tracked on L1 only leave their L2 slot empty.
  for (int sat : {13, 19, 20}) {
    EXPECT_EQ(Find(sat)->phase[1], 0.0) << sat;
    EXPECT_EQ(Find(sat)->code[1], 0) << sat;
  }
  EXPECT_EQ(dec->lock_indicator[18][0], 295);  // satellite 19
  EXPECT_EQ(dec->lock_indicator[4][1], 341);   // satellite 5, L2
}

TEST_F(RecordedMsm7, SignalListsOfEverySystemAreKept) {
  FeedThrough(1117);
  EXPECT_STREQ(dec->msm_signals[0], "L1C,L2L");
  EXPECT_STREQ(dec->msm_signals[1], "L1C,L2C");
  EXPECT_STREQ(dec->msm_signals[2], "L1C,L7Q");
  EXPECT_STREQ(dec->msm_signals[3], "L1C,L2X,L5X,L1X");
  EXPECT_STREQ(dec->msm_signals[4], "");
  EXPECT_STREQ(dec->msm_signals[5], "L1I,L7I");
}

TEST_F(RecordedMsm7, LaterQzssMessageOfAnotherEpochLeavesTheCompletedRecords) {
  FeedThrough(1127);
  EXPECT_EQ(FeedThrough(1117), 0);  // sync 1, QZSS satellites have no number
  EXPECT_EQ(dec->obs.count, 10);
  EXPECT_EQ(dec->epoch_complete, 0);
}

std::string ExpectedMsm7Summary() {
  struct Line {
    int sat;
    double l1;
    double l2;
  };
  const Line lines[] = {
      {5, 118165954.582266, 92077369.004786},
      {7, 118998672.411932, 92726234.593678},
      {9, 128809822.326099, 100371309.936905},
      {13, 113649253.700135, 0.0},
      {14, 106419656.094976, 82924405.364267},
      {15, 126211771.603177, 98346838.796328},
      {17, 119422524.850531, 93056516.164367},
      {19, 129346632.460451, 0.0},
      {20, 118978743.163437, 0.0},
      {30, 112398957.235643, 87583605.843540},
  };
  std::string text = "Station id: 0\n";
  for (const Line& l : lines) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "GPS satellite PRN: %d L1: %.6f L2: %.6f Time: %lld\n",
                  l.sat, l.l1, l.l2, static_cast<long long>(GpsTime(kMsm7TowMs).time));
    text += buffer;
  }
  return text;
}

TEST(RecordedSummaries, Msm7RecordingPrintsTheStationAndOneLinePerNumberedSatellite) {
  rtcm::ChunkSummarizer summarizer(ClockNear(kMsm7TowMs));
  int last = 0;
  const std::string text = summarizer.Feed(fixtures::ReadRecording("pygpsdata-RTCM3.log"), &last);
  EXPECT_EQ(text, ExpectedMsm7Summary());
}

TEST(RecordedSummaries, Msm7RecordingReadInSmallPiecesPrintsTheSameText) {
  const std::string data = fixtures::ReadRecording("pygpsdata-RTCM3.log");
  rtcm::ChunkSummarizer summarizer(ClockNear(kMsm7TowMs));
  std::string text;
  int last = 0;
  for (size_t i = 0; i < data.size(); i += 37) text += summarizer.Feed(data.substr(i, 37), &last);
  EXPECT_EQ(text, ExpectedMsm7Summary());
}

TEST(RecordedSummaries, MixedRecordingWithStrayBytesPrintsTheSameEpoch) {
  rtcm::ChunkSummarizer summarizer(ClockNear(kMsm7TowMs));
  int last = 0;
  const std::string text =
      summarizer.Feed(fixtures::ReadRecording("pygpsdata-MIXED-RTCM3.log"), &last);
  EXPECT_EQ(text, ExpectedMsm7Summary());
}

TEST(RecordedSummaries, Msm3RecordingEndsAnEpochWithTheStationAlone) {
  const std::string data = fixtures::ReadRecording("pygpsdata-RTCMMSM3.log");
  ASSERT_FALSE(data.empty());
  DecoderPtr dec = PinnedDecoder();
  dec->utc_clock = ClockNear(kMsm3TowMs);
  std::vector<int> results;
  for (const Bytes& frame : FramesOf(data)) results.push_back(Feed(dec.get(), frame));
  EXPECT_EQ(results, (std::vector<int>{0, 0, 1}));  // 1073, 1083 with sync 1; 1093 with sync 0
  EXPECT_EQ(dec->staid, 11);
  EXPECT_EQ(dec->obs.count, 0);
  // GLONASS time of day 9349 s and GPS time of week 84967 s are the same instant.
  EXPECT_EQ(dec->time.time, GpsTime(kMsm3TowMs).time);
  EXPECT_EQ(dec->message_counts[73], 1u);
  EXPECT_EQ(dec->message_counts[83], 1u);
  EXPECT_EQ(dec->message_counts[93], 1u);

  rtcm::ChunkSummarizer summarizer(ClockNear(kMsm3TowMs));
  int last = 0;
  EXPECT_EQ(summarizer.Feed(data, &last), "Station id: 11\n");
}

#ifdef RTCM3_SUMMARY_PATH
// The command-line tool reads the recording with the real clock: only the shape is checked.
TEST(RecordedSummaries, SummaryToolPrintsTheMsm7EpochWithBothPhases) {
  const std::string command =
      std::string(RTCM3_SUMMARY_PATH) + " " + NTRIP_DATA_DIR + "/pygpsdata-RTCM3.log";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(out.rfind("Station id: 0\n", 0), 0u) << out;
  EXPECT_NE(out.find("GPS satellite PRN: 5 L1: 118165954.582266 L2: 92077369.004786 Time: "),
            std::string::npos)
      << out;
  int lines = 0;
  for (size_t p = out.find("GPS satellite PRN: "); p != std::string::npos;
       p = out.find("GPS satellite PRN: ", p + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 10);
}
#endif

}  // namespace
