// The recordings in data/: framing and counting, chunking, and the rtcm3-summary tool.
#include <gtest/gtest.h>

#ifdef RTCM3_SUMMARY_PATH
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "rtcm/frame.h"
#include "rtcm/summary.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

const UtcClock kClock = [] { return GnssTime{1709210096, 0.0}; };

struct Recording {
  const char* name;
  size_t bytes;
  std::map<int, uint32_t> counts;  // message number -> count; 0 = every number outside 1001..1299
};

const std::vector<Recording>& Recordings() {
  static const std::vector<Recording> recordings = {
      {"pygpsdata-RTCM3.log",
       2387,
       {{1005, 1},
        {0, 1},
        {1077, 1},
        {1087, 1},
        {1097, 1},
        {1127, 1},
        {1230, 1},
        {1007, 1},
        {1117, 1},
        {1059, 1},
        {1060, 1}}},
      {"pygpsdata-MIXED-RTCM3.log",
       1227,
       {{1005, 1}, {0, 1}, {1077, 1}, {1087, 1}, {1097, 1}, {1127, 1}, {1230, 1}}},
      {"pygpsdata-RTCMMSM3.log", 408, {{1073, 1}, {1083, 1}, {1093, 1}}},
      {"pygpsdata-1240-1264.log",
       6125,
       {{1240, 1},
        {1241, 1},
        {1242, 2},
        {1243, 2},
        {1258, 1},
        {1259, 1},
        {1260, 2},
        {1261, 2},
        {1264, 1}}},
      {"pygpsdata-NTRIP-4076.log", 4810, {{0, 11}}},
      {"pygpsdata-MT1023.log", 79, {{1023, 1}}},
      {"pygpsdata-1230.bin", 88, {{1230, 5}}},
  };
  return recordings;
}

std::string Summarize(const std::string& data, size_t chunk) {
  ChunkSummarizer summarizer(kClock);
  std::string text;
  for (size_t at = 0; at < data.size(); at += chunk) {
    text += summarizer.Feed(std::string_view(data).substr(at, chunk), nullptr);
  }
  return text;
}

TEST(Recordings, EveryFrameIsReadAndCountedUnderItsNumber) {
  for (const Recording& r : Recordings()) {
    const std::string data = fixtures::ReadRecording(r.name);
    ASSERT_EQ(data.size(), r.bytes) << r.name;
    ChunkSummarizer summarizer(kClock);
    summarizer.Feed(data, nullptr);
    std::map<int, uint32_t> counts;
    const RtcmDecoder& dec = summarizer.decoder();
    for (int i = 0; i < MESSAGE_COUNTS; ++i) {
      if (dec.message_counts[i]) counts[i == 0 ? 0 : 1000 + i] = dec.message_counts[i];
    }
    EXPECT_EQ(counts, r.counts) << r.name;
  }
}

TEST(Recordings, SummaryIsTheSameForEveryChunkSize) {
  for (const Recording& r : Recordings()) {
    const std::string data = fixtures::ReadRecording(r.name);
    const std::string whole = Summarize(data, data.size());
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{2048}, size_t{1400}, size_t{13}}) {
      EXPECT_EQ(Summarize(data, chunk), whole) << r.name << " chunk " << chunk;
    }
  }
}

TEST(Recordings, TheObservationRecordingsGiveEpochBlocks) {
  for (const char* name :
       {"pygpsdata-RTCM3.log", "pygpsdata-MIXED-RTCM3.log", "pygpsdata-RTCMMSM3.log"}) {
    const std::string text = Summarize(fixtures::ReadRecording(name), 2048);
    EXPECT_EQ(text.rfind("Station id: ", 0), 0u) << name;
  }
  EXPECT_EQ(Summarize(fixtures::ReadRecording("pygpsdata-1240-1264.log"), 2048), "");
}

#ifdef RTCM3_SUMMARY_PATH

struct RunResult {
  int status;
  std::string out;
};

// Runs the tool with the arguments (shell-quoted by the caller); `capture` picks the stream.
RunResult RunTool(const std::string& args, bool capture_stderr = false) {
  const std::string command = std::string("'") + RTCM3_SUMMARY_PATH + "' " + args +
                              (capture_stderr ? " 2>&1 >/dev/null" : " 2>/dev/null");
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string DataPath(const Recording& r) {
  return std::string(NTRIP_DATA_DIR) + "/" + r.name;
}

TEST(SummaryTool, PrintsTheSameTextForChunksOfOneSevenDefaultAndTheWholeFile) {
  for (const Recording& r : Recordings()) {
    const RunResult base = RunTool("'" + DataPath(r) + "'");
    ASSERT_EQ(base.status, 0) << r.name;
    for (const std::string& chunk :
         std::vector<std::string>{"1", "7", "2048", std::to_string(r.bytes)}) {
      const RunResult run = RunTool("'" + DataPath(r) + "' --chunk " + chunk);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, base.out) << r.name << " --chunk " << chunk;
    }
    const RunResult piped = RunTool("- < '" + DataPath(r) + "'");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, base.out) << r.name << " from standard input";
  }
}

TEST(SummaryTool, AnswersHelpAndVersionOnStandardOutput) {
  const RunResult help = RunTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: rtcm3-summary")) << help.out;
  const RunResult version = RunTool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("rtcm3-summary ")) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
}

TEST(SummaryTool, AMissingFileIsAClearErrorWithANonZeroExit) {
  const RunResult run = RunTool("/nonexistent/recording.log", true);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.out.find("cannot read /nonexistent/recording.log"), std::string::npos) << run.out;
}

TEST(SummaryTool, ADirectoryIsNotAReadableRecording) {
  const RunResult run = RunTool(std::string("'") + NTRIP_DATA_DIR + "'", true);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.out.find("cannot read"), std::string::npos) << run.out;
}

TEST(SummaryTool, BadArgumentsAreRefused) {
  EXPECT_NE(RunTool("").status, 0);
  EXPECT_NE(RunTool("'" + DataPath(Recordings()[0]) + "' --chunk 0").status, 0);
  EXPECT_NE(RunTool("'" + DataPath(Recordings()[0]) + "' --chunk").status, 0);
  EXPECT_NE(RunTool("'" + DataPath(Recordings()[0]) + "' --frobnicate").status, 0);
}

TEST(SummaryTool, JsonHasOneObjectPerRightFrameWithTheStationRecord) {
  const RunResult run = RunTool("'" + DataPath(Recordings()[0]) + "' --json");
  ASSERT_EQ(run.status, 0);
  std::istringstream lines(run.out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 11u);
  const nlohmann::json& arp = objects[0];
  EXPECT_EQ(arp["type"], 1005);
  EXPECT_EQ(arp["length"], 19);
  EXPECT_EQ(arp["result"], 5);
  EXPECT_EQ(arp["station"]["delta_type"], 0);
  EXPECT_NEAR(arp["station"]["position"][0].get<double>(), 4444030.8028, 1e-6);
  const nlohmann::json& antenna = objects[7];
  EXPECT_EQ(antenna["type"], 1007);
  EXPECT_EQ(antenna["station"]["antenna_descriptor"], "ABC");
  EXPECT_EQ(antenna["station"]["antenna_setup"], 234);
  int epochs = 0;
  for (const nlohmann::json& o : objects) {
    if (!o.contains("epoch")) continue;
    ++epochs;
    EXPECT_EQ(o["result"], 1);
    EXPECT_FALSE(o["epoch"]["satellites"].empty());
  }
  EXPECT_EQ(epochs, 1);
}

TEST(SummaryTool, CountsGoToStandardErrorAtTheEnd) {
  const RunResult run = RunTool("'" + DataPath(Recordings()[0]) + "' --counts", true);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\n1005 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nother 1\n"), std::string::npos) << run.out;
}

#endif  // RTCM3_SUMMARY_PATH

}  // namespace
}  // namespace rtcm
