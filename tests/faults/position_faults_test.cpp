// Bad position samples from the receiver (not a number, too few values) while the stream runs and
// before any client exists: the stream goes on byte-exact, no client is built from them, and a
// host stop while they arrive ends promptly.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fault_fixture.h"

using namespace fault_test;

namespace {

const std::vector<double> kGood = {48.8584, 2.2945, 35.0, 0.02};

struct BadSample {
  std::string name = {};
  std::vector<double> values;
  // Text of a report (any kind) that each handling of this sample gives while a client exists.
  std::string evidence_with_client;
  // Same, before any client exists.
  std::string evidence_without_client;
};

std::ostream& operator<<(std::ostream& out, const BadSample& b) {
  return out << b.name;
}

const BadSample kBadSamples[] = {
    {"NotANumberLatitude",
     {std::nan(""), 2.2945, 35.0, 0.02},
     "Invalid latitude or longitude values",
     "Invalid latitude or longitude values"},
    {"NotANumberLongitude",
     {48.8584, std::nan(""), 35.0, 0.02},
     "Invalid latitude or longitude values",
     "Invalid latitude or longitude values"},
    {"NotANumberAccuracy",
     {48.8584, 2.2945, 35.0, std::nan("")},
     "nan m",
     "Connecting to "},  // a usable position: the client is built
    {"ThreeValues",
     {48.8584, 2.2945, 35.0},
     "Position sample ignored: 3 values",
     "Position sample ignored: 3 values"},
    {"NoValues", {}, "Position sample ignored: 0 values", "Position sample ignored: 0 values"},
};

bool SeenTimes(ComponentHarness& h, const std::string& part, std::size_t times) {
  return Eventually([&] { return CountReportsContaining(h, part) >= times; }, 10s);
}

class BadSamples : public ::testing::TestWithParam<BadSample> {};

}  // namespace

TEST_P(BadSamples, WhileStreamingTheyNeitherInterruptNorRebuildTheClient) {
  const BadSample& b = GetParam();
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start(kGood);
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 500; }));
  const std::size_t before = CountReportsContaining(h, b.evidence_with_client);
  h.Push(b.values);
  ASSERT_TRUE(SeenTimes(h, b.evidence_with_client, before + 5));
  const std::size_t raw_then = h.Raw().Bytes().size();
  h.Push(kGood);
  ASSERT_TRUE(h.Raw().WaitUntil(
      [&](const OutputLog& l) { return l.Bytes().size() >= raw_then + 500; }, 10s));
  EXPECT_LT(h.Stop(), 5s);

  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
  EXPECT_EQ(h.Connections(), 1u);
  EXPECT_EQ(h.CountInfo("Socket State is below Connected => Restart the socket"), 0u);
  // Not a number is never worse than the threshold.
  EXPECT_EQ(h.CountInfo("Position accuracy above 0.100000 m"), 0u);
}

TEST_P(BadSamples, HostStopWhileTheyArriveDuringTheStreamEndsPromptly) {
  const BadSample& b = GetParam();
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start(kGood);
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return !l.Bytes().empty(); }));
  const std::size_t before = CountReportsContaining(h, b.evidence_with_client);
  h.Push(b.values);
  ASSERT_TRUE(SeenTimes(h, b.evidence_with_client, before + 2));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
}

TEST_P(BadSamples, HostStopWhileTheyArriveBeforeAnyClientEndsPromptly) {
  const BadSample& b = GetParam();
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start(b.values);
  ASSERT_TRUE(SeenTimes(h, b.evidence_without_client, 1));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
  if (b.name != "NotANumberAccuracy") {
    EXPECT_EQ(h.Connections(), 0u);
    EXPECT_TRUE(h.Raw().Elements().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(PositionFaults, BadSamples, ::testing::ValuesIn(kBadSamples),
                         [](const ::testing::TestParamInfo<BadSample>& info) {
                           return info.param.name;
                         });
