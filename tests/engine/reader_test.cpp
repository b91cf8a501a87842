#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine.h"
#include "report_collector.h"

namespace {

using maps_host::Engine;
using maps_host::Instance;
using Kind = MAPS::ReportKind;

constexpr auto kPatience = std::chrono::seconds(10);
// 1 s periods run every 10 ms.
constexpr double kScale = 0.01;
constexpr std::int64_t kScaledPeriodUs = 10000;

struct Event {
  std::string which;
  std::string value;
  std::int64_t timestamp = 0;
};

Event Parse(const maps_host::OutputElement& element) {
  std::istringstream in(host_test::ElementText(element));
  Event event;
  in >> event.which >> event.value >> event.timestamp;
  return event;
}

class PeriodicReader : public ::testing::Test {
 protected:
  PeriodicReader() : engine_({.sampling_period_scale = kScale, .report_sink = reports_.Sink()}) {
    engine_.LoadPackage(PROBE_PACKAGE_PATH);
  }
  Instance& Probe() { return engine_.CreateInstance("HostProbe", "probe"); }
  Event Next(Instance& probe) {
    auto element = probe.PopOutput("oEvents", kPatience);
    if (!element) ADD_FAILURE() << "no callback came";
    return element ? Parse(*element) : Event{};
  }

  host_test::ReportCollector reports_;
  Engine engine_;
};

TEST_F(PeriodicReader, NothingFiresBeforeTheFirstSampleThenTheFirstTimeCallbackRunsOnce) {
  Instance& probe = Probe();
  probe.Start();
  // Ten periods without a sample: the reader keeps waiting.
  EXPECT_FALSE(probe.PopOutput("oEvents", std::chrono::milliseconds(100)).has_value());
  probe.PushSample("iValues", {1.5});
  const Event first = Next(probe);
  EXPECT_EQ(first.which, "first");
  EXPECT_EQ(first.value, "1.500000");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Next(probe).which, "each");
}

TEST_F(PeriodicReader, FiresOncePerPeriodWithTheLatestSample) {
  Instance& probe = Probe();
  probe.Start();
  probe.PushSample("iValues", {1.0});
  std::vector<Event> events{Next(probe)};
  // Without a new sample the latest one is delivered again each period.
  for (int i = 0; i < 5; ++i) events.push_back(Next(probe));
  for (std::size_t i = 1; i < events.size(); ++i) {
    EXPECT_EQ(events[i].value, "1.000000");
    EXPECT_GE(events[i].timestamp - events[i - 1].timestamp, kScaledPeriodUs)
        << "two callbacks within one sampling period";
  }
  probe.PushSample("iValues", {2.0});
  probe.PushSample("iValues", {3.0});
  // The last pushed sample wins; an intermediate one may never be seen.
  Event event;
  do {
    event = Next(probe);
  } while (event.value != "3.000000" && !HasFailure());
  EXPECT_EQ(event.which, "each");
}

TEST_F(PeriodicReader, AnExceptionLeavingACallbackIsReportedAndSamplingGoesOn) {
  Instance& probe = Probe();
  probe.Start();
  probe.PushSample("iValues", {-1.0});  // the probe throws on negative samples
  ASSERT_TRUE(reports_.WaitFor([](const auto& r) {
    return r.kind == Kind::Error && r.text == "Input reader callback failed: negative sample";
  }));
  probe.PushSample("iValues", {4.0});
  Event event;
  do {
    event = Next(probe);
  } while (event.value != "4.000000" && !HasFailure());
  EXPECT_EQ(event.which, "each");  // the failed first callback still counted as the first
  EXPECT_FALSE(probe.HasFailed());
}

TEST_F(PeriodicReader, WithEmptyInputsAllowedItFiresWithoutASample) {
  Instance& probe = Probe();
  probe.SetProperty("allow_empty", "true");
  probe.Start();
  EXPECT_EQ(Next(probe).which, "first");
  probe.PushSample("iValues", {5.0});
  Event event;
  do {
    event = Next(probe);
  } while (event.value != "5.000000" && !HasFailure());
}

TEST_F(PeriodicReader, AStopWhileWaitingForTheFirstSampleEndsTheReadAsAStop) {
  Instance& probe = Probe();
  probe.Start();
  ASSERT_TRUE(reports_.WaitFor([](const auto& r) { return r.text == "Birth"; }));
  probe.Stop();
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
  EXPECT_FALSE(probe.HasFailed());
}

TEST(PeriodicReaderAtFullPeriod, AStopDuringALongPeriodEndsTheWaitedRead) {
  host_test::ReportCollector reports;
  Engine engine({.report_sink = reports.Sink()});  // unscaled
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  Instance& probe = engine.CreateInstance("HostProbe", "probe");
  probe.SetProperty("period_us", "3600000000");  // one hour: only the stop can end the wait
  probe.Start();
  probe.PushSample("iValues", {1.0});
  ASSERT_TRUE(probe.PopOutput("oEvents", kPatience).has_value());
  probe.Stop();
  EXPECT_TRUE(reports.Texts(Kind::Error).empty());
}

}  // namespace
