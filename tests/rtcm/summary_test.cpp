// The summary text of completed epochs, with one decoder kept across chunks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rtcm/summary.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::AsString;
using fixtures::BitWriter;

constexpr int64_t kWeek2303 = 315964800 + 2303LL * 604800;
const UtcClock kClock = [] { return GnssTime{1709210096, 0.0}; };  // 2024-02-29, week 2303

// An MSM 4 GPS message: station 1234, the given satellites, signal 1C only, every cell set.
std::vector<uint8_t> Msm4Gps(uint32_t tow_ms, bool sync, const std::vector<int>& prns) {
  BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(sync ? 1 : 0, 1);
  w.Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  uint64_t sat_mask = 0;
  for (const int prn : prns) sat_mask |= uint64_t{1} << (64 - prn);
  w.Unsigned(sat_mask, 64).Unsigned(1u << 30, 32);  // signal id 2: "1C"
  const int n = static_cast<int>(prns.size());
  for (int i = 0; i < n; ++i) w.Unsigned(1, 1);        // cell mask
  for (int i = 0; i < n; ++i) w.Unsigned(70 + i, 8);   // rough range, whole ms
  for (int i = 0; i < n; ++i) w.Unsigned(512, 10);     // rough range, modulo 1 ms
  for (int i = 0; i < n; ++i) w.Signed(100 * i, 15);   // fine pseudorange
  for (int i = 0; i < n; ++i) w.Signed(-200 * i, 22);  // fine phase range
  for (int i = 0; i < n; ++i) w.Unsigned(5, 4);        // lock time indicator
  for (int i = 0; i < n; ++i) w.Unsigned(0, 1);        // half-cycle flag
  for (int i = 0; i < n; ++i) w.Unsigned(45, 6);       // CNR
  return fixtures::FrameOf(1074, w);
}

std::vector<uint8_t> Head1001(uint32_t tow_ms, bool sync) {
  BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(sync ? 1 : 0, 1).Unsigned(0, 5);
  w.Unsigned(0, 4);
  return fixtures::FrameOf(1001, w);
}

std::vector<uint8_t> Station1005() {
  BitWriter w;
  w.Unsigned(1234, 12).Unsigned(0, 6).Unsigned(0, 4).Signed38(1).Unsigned(0, 2).Signed38(2);
  w.Unsigned(0, 2).Signed38(3);
  return fixtures::FrameOf(1005, w);
}

// Lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text does not end with a line feed";
  return lines;
}

std::string TimeField(int64_t seconds) {
  return " Time: " + std::to_string(seconds);
}

TEST(EpochBlock, HasTheStationLineAndOneLinePerRecordInTheFixedFormat) {
  ChunkSummarizer summarizer(kClock);
  RtcmDecoder& dec = summarizer.decoder();
  dec.staid = 1234;
  dec.obs.count = 2;
  dec.obs.records[0].sat = 5;
  dec.obs.records[0].phase[0] = 112233445.125;
  dec.obs.records[0].phase[1] = 87456321.5;
  dec.obs.records[0].time = GnssTime{1700000018, 0.9};
  dec.obs.records[1].sat = 34;
  dec.obs.records[1].phase[0] = -1.0;
  dec.obs.records[1].time = GnssTime{1700000018, 0.0};
  std::string text;
  AppendEpochSummary(dec, text);
  EXPECT_EQ(text,
            "Station id: 1234\n"
            "GPS satellite PRN: 5 L1: 112233445.125000 L2: 87456321.500000 Time: 1700000018\n"
            "GPS satellite PRN: 34 L1: -1.000000 L2: 0.000000 Time: 1700000018\n");
}

TEST(ChunkSummary, AnEmptyChunkGivesNoTextAndResultZero) {
  ChunkSummarizer summarizer(kClock);
  int last = 99;
  EXPECT_EQ(summarizer.Feed("", &last), "");
  EXPECT_EQ(last, 0);
}

TEST(ChunkSummary, AChunkEndingBeforeTheCrcGivesNoTextAndResultZero) {
  const std::string frame = AsString(Msm4Gps(100000000, false, {3, 7, 21}));
  int last = 99;
  EXPECT_EQ(ChunkSummarizer().Feed(frame.substr(0, frame.size() - 3), &last), "");
  EXPECT_EQ(last, 0);
}

TEST(ChunkSummary, OneMsm4MessageWithSyncZeroPrintsItsSatellites) {
  ChunkSummarizer summarizer(kClock);
  int last = 0;
  const std::string text = summarizer.Feed(AsString(Msm4Gps(100000000, false, {3, 7, 21})), &last);
  EXPECT_EQ(last, 1);
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Station id: 1234");
  const char* prns[] = {"3", "7", "21"};
  for (int i = 0; i < 3; ++i) {
    const std::string& line = lines[i + 1];
    EXPECT_EQ(line.rfind(std::string("GPS satellite PRN: ") + prns[i] + " L1: ", 0), 0u) << line;
    EXPECT_NE(line.find(" L2: 0.000000" + TimeField(kWeek2303 + 100000)), std::string::npos)
        << line;
  }
}

TEST(ChunkSummary, AStationMessageAloneGivesNoTextAndResultFive) {
  int last = 0;
  EXPECT_EQ(ChunkSummarizer().Feed(AsString(Station1005()), &last), "");
  EXPECT_EQ(last, 5);
}

TEST(ChunkSummary, TwoMessagesOfOneEpochPrintOneBlockWithBoth) {
  ChunkSummarizer summarizer(kClock);
  const std::string chunk = AsString(
      fixtures::Concat({Msm4Gps(100000000, true, {3, 7}), Msm4Gps(100000000, false, {12})}));
  const std::vector<std::string> lines = Lines(summarizer.Feed(chunk, nullptr));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Station id: 1234");
  EXPECT_EQ(lines[3].rfind("GPS satellite PRN: 12 ", 0), 0u);
}

TEST(ChunkSummary, AHeaderOnlyMessageWithSyncZeroPrintsOnlyTheStationLine) {
  ChunkSummarizer summarizer(kClock);
  int last = 0;
  EXPECT_EQ(summarizer.Feed(AsString(Head1001(100000000, false)), &last), "Station id: 1234\n");
  EXPECT_EQ(last, 1);
}

TEST(ChunkSummary, AHeaderOnlyMessageAfterACompleteEpochRepeatsItsRecords) {
  ChunkSummarizer summarizer(kClock);
  const std::string first = summarizer.Feed(AsString(Msm4Gps(100000000, false, {3})), nullptr);
  const std::string again = summarizer.Feed(AsString(Head1001(100000000, false)), nullptr);
  EXPECT_EQ(again, first);
}

TEST(ChunkSummary, AFrameSplitBetweenTwoChunksIsCompletedByTheSecond) {
  ChunkSummarizer summarizer(kClock);
  const std::string frame = AsString(Msm4Gps(100000000, false, {3, 7, 21}));
  int last = 99;
  EXPECT_EQ(summarizer.Feed(frame.substr(0, 40), &last), "");
  EXPECT_EQ(last, 0);
  const std::string text = summarizer.Feed(frame.substr(40), &last);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(Lines(text).size(), 4u);
}

TEST(ChunkSummary, AnEpochSpreadOverTwoChunksAppearsInTheChunkThatCompletesIt) {
  ChunkSummarizer summarizer(kClock);
  EXPECT_EQ(summarizer.Feed(AsString(Msm4Gps(100000000, true, {3, 7})), nullptr), "");
  const std::vector<std::string> lines =
      Lines(summarizer.Feed(AsString(Msm4Gps(100000000, false, {12})), nullptr));
  EXPECT_EQ(lines.size(), 4u);
}

TEST(ChunkSummary, TheTextOfAStreamDoesNotDependOnHowItIsCut) {
  std::vector<std::vector<uint8_t>> parts;
  for (uint32_t epoch = 0; epoch < 4; ++epoch) {
    const uint32_t tow = 100000000 + epoch * 1000;
    parts.push_back({0x00, 0xD3, 0x00});  // noise, a false preamble eats the next frame
    parts.push_back(Msm4Gps(tow, true, {1, 2, 3, 4, 5}));
    parts.push_back(Station1005());
    parts.push_back(Msm4Gps(tow, true, {6, 7}));
    parts.push_back(Msm4Gps(tow, false, {30, 31, 32}));
    parts.push_back(Head1001(tow, false));
  }
  const std::string stream = AsString(fixtures::Concat(parts));
  ChunkSummarizer whole(kClock);
  const std::string expected = whole.Feed(stream, nullptr);
  ASSERT_FALSE(expected.empty());
  for (size_t size = 1; size <= stream.size(); size += (size < 64 ? 1 : 97)) {
    ChunkSummarizer summarizer(kClock);
    std::string text;
    for (size_t at = 0; at < stream.size(); at += size) {
      text += summarizer.Feed(std::string_view(stream).substr(at, size), nullptr);
    }
    ASSERT_EQ(text, expected) << "chunk size " << size;
  }
}

TEST(ChunkSummary, TheLastResultIsThatOfTheChunksLastByte) {
  ChunkSummarizer summarizer(kClock);
  const std::string chunk = AsString(fixtures::Concat({Msm4Gps(100000000, false, {3}), {0x00}}));
  int last = 99;
  EXPECT_FALSE(summarizer.Feed(chunk, &last).empty());
  EXPECT_EQ(last, 0);
}

}  // namespace
}  // namespace rtcm
