// Supervision from the position samples: accuracy limit, bad samples, failing casters, stops.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <cmath>
#include <thread>

#include "component_fixture.h"

using namespace component_test;

namespace {

constexpr const char* kPoor = "Position accuracy above 0.100000 m";
constexpr const char* kLimit = "Number max of accuracy errors has been reach => Restart the Socket";

// Alternates poor and good samples until stopped, so the count must be cumulative.
class AlternatingPositions {
 public:
  explicit AlternatingPositions(ComponentHarness& h)
      : thread_([&h](std::stop_token stop) {
          bool poor = true;
          while (!stop.stop_requested()) {
            h.Push({48.8584, 2.2945, 35.0, poor ? 0.2 : 0.02});
            poor = !poor;
            std::this_thread::sleep_for(130ms);
          }
        }) {}

 private:
  std::jthread thread_;
};

}  // namespace

TEST(ComponentSupervision, SixteenthPoorSampleRebuildsTheClientAndTheFifteenthDoesNot) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start();
  {
    AlternatingPositions positions(h);
    ASSERT_TRUE(h.WaitForReport(kLimit, 30s));
  }
  ASSERT_TRUE(Eventually([&] { return h.ServingConnections() >= 2; }));
  h.Stop();
  std::size_t poor_before_limit = 0, good_before_limit = 0;
  for (const auto& text : h.Reports().Texts(MAPS::ReportKind::Information)) {
    if (text == kLimit) break;
    if (text == kPoor) ++poor_before_limit;
    if (text == "Position Accuracy : 0.020000 m") ++good_before_limit;
  }
  EXPECT_EQ(poor_before_limit, 16u);
  EXPECT_GT(good_before_limit, 0u);
  EXPECT_TRUE(
      h.Reports().Has(MAPS::ReportKind::Information,
                      "Reset the NTRIP Client because reach max number of accuracy errors"));
}

TEST(ComponentSupervision, AccuracyEqualToTheThresholdIsNotCounted) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start({48.8584, 2.2945, 35.0, 0.1});
  ASSERT_TRUE(Eventually([&] { return h.CountInfo("Position Accuracy : 0.100000 m") >= 10; }));
  h.Stop();
  EXPECT_EQ(h.CountInfo(kPoor), 0u);
}

TEST(ComponentSupervision, InvalidLatitudeIsReportedAndBuildsNoClient) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start({95.0, 2.2945, 35.0, 0.02});
  ASSERT_TRUE(h.WaitForReport("Exception: Invalid latitude or longitude values"));
  h.Stop();
  EXPECT_EQ(h.Connections(), 0u);
  EXPECT_TRUE(h.Raw().Elements().empty());
}

TEST(ComponentSupervision, NotANumberPositionBuildsNoClientAndAGoodOneThenConnects) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start({std::nan(""), 2.2945, 35.0, 0.02});
  ASSERT_TRUE(h.Reports().WaitFor([](const maps_host::Report& r) {
    return r.text.rfind("Exception: Invalid latitude or longitude values", 0) == 0;
  }));
  EXPECT_EQ(h.Connections(), 0u);
  h.Push({48.8584, 2.2945, 35.0, 0.02});
  EXPECT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return !l.Bytes().empty(); }));
}

TEST(ComponentSupervision, SampleWithFewerThanFourValuesIsIgnored) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start({48.8584, 2.2945, 35.0});
  ASSERT_TRUE(h.Reports().WaitFor(
      [](const maps_host::Report& r) { return r.text.rfind("Position sample ignored", 0) == 0; }));
  EXPECT_EQ(h.Connections(), 0u);
  h.Push({48.8584, 2.2945, 35.0, 0.02});
  EXPECT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return !l.Bytes().empty(); }));
}

TEST(ComponentSupervision, RefusedCredentialsAreRetriedWithGrowingSpacing) {
  ComponentOptions options;
  options.password = "wrong";
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
  const auto start = std::chrono::steady_clock::now();
  h.Start();
  // The host runs ten times faster: spacing of 0.1, 0.2, 0.4, 0.8, 1.6 s between six attempts,
  // where a sample every 100 ms would otherwise make one attempt each.
  ASSERT_TRUE(Eventually([&] { return h.Connections() >= 6; }, 20s));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  h.Stop();
  EXPECT_GE(elapsed, 2500ms);
  EXPECT_LE(h.Connections(), 7u);
  EXPECT_TRUE(
      h.Reports().Has(MAPS::ReportKind::Information, "Restart the Socket Error while Connecting"));
  EXPECT_TRUE(h.Raw().Elements().empty());
}

TEST(ComponentSupervision, StopEndsPromptlyWhileTheCasterNeverAnswers) {
  auto options = ServeRecording("pygpsdata-RTCM3.log");
  options.fault.mode = caster::FaultMode::NeverAnswer;
  ComponentHarness h(options);
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.Connections() >= 1; }));
  EXPECT_LT(h.Stop(), 5s);
}

TEST(ComponentSupervision, StopEndsPromptlyWhileTheStreamStalls) {
  auto options = ServeRecording("pygpsdata-RTCM3.log");
  options.fault = {caster::FaultMode::StallAfter, 1000, ""};
  ComponentHarness h(options);
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 1000; }));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_EQ(h.Raw().Bytes(), h.ServedBytes());
}

TEST(ComponentSupervision, StopEndsPromptlyWhileWriting) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log", 0));
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 100000; }));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_EQ(h.Raw().Bytes(), h.ServedBytes().substr(0, h.Raw().Bytes().size()));
}

TEST(ComponentSupervision, PropertyChangesAfterStartAreRefused) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start();
  EXPECT_FALSE(h.Instance().SetProperty("port", "1"));
  EXPECT_TRUE(h.Reports().Has(
      MAPS::ReportKind::Error,
      "Failure while trying to set value of property port. This property can't be modified after "
      "start."));
  EXPECT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return !l.Bytes().empty(); }));
  EXPECT_NE(h.Instance().PropertyText("port"), "1");
}

TEST(ComponentSupervision, AFailingInternetProbeOnlyWarnsAndTheComponentConnects) {
  ComponentOptions options;
  options.package = FAILING_PROBE_PACKAGE_PATH;
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 1000; }));
  h.Stop();
  const auto warnings = h.Reports().Texts(MAPS::ReportKind::Warning);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "Internet is not available"), 1);
  EXPECT_EQ(h.Connections(), 1u);
}

TEST(ComponentSupervision, StopWhileStreamingPublishesEveryByteReceivedAndReportsNoError) {
  // 64 kB at once, then silence; the output takes 20 ms an element, so at the stop a good part
  // of it still waits in the client's queue behind a full output FIFO. What is left (about 22
  // elements) drains in well under the host's 1 s, even where a sleep of 20 ms lasts 30.
  auto caster_options = ServeRecording("pygpsdata-RTCM3.log", 0);
  caster_options.fault = {caster::FaultMode::StallAfter, 64000, ""};
  ComponentOptions options;
  options.decode = false;
  options.raw_consumer_delay = 20ms;
  ComponentHarness h(caster_options, options);
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 20000; }));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_EQ(h.Raw().Bytes(), h.ServedBytes());
  EXPECT_EQ(h.Reports().Texts(MAPS::ReportKind::Error), std::vector<std::string>());
}
