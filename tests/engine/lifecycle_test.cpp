#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"
#include "report_collector.h"

namespace {

using maps_host::Engine;
using maps_host::Instance;
using Kind = MAPS::ReportKind;

std::vector<std::string> Lifecycle(const host_test::ReportCollector& reports) {
  std::vector<std::string> steps;
  for (const std::string& text : reports.Texts(Kind::Information)) {
    if (text == "Birth" || text == "Banzai" || text == "Death" || text == "Destroyed") {
      steps.push_back(text);
    }
  }
  return steps;
}

TEST(Lifecycle, StartAndStopRunBirthBanzaiDeathThenDestroyTheComponent) {
  host_test::ReportCollector reports;
  Engine engine({.sampling_period_scale = 0.01, .report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  Instance& probe = engine.CreateInstance("HostProbe", "probe");
  probe.Start();
  probe.PushSample("iValues", {1.0});
  ASSERT_TRUE(probe.PopOutput("oEvents", std::chrono::seconds(10)).has_value());
  probe.Stop();
  EXPECT_EQ(Lifecycle(reports),
            (std::vector<std::string>{"Birth", "Banzai", "Death", "Destroyed"}));
  for (const auto& report : reports.All()) EXPECT_EQ(report.instance, "probe");
}

TEST(Lifecycle, AnInstanceNeverStartedIsDestroyedWithoutLifeCycleCalls) {
  host_test::ReportCollector reports;
  Engine engine({.report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  engine.DestroyInstance(engine.CreateInstance("HostProbe", "probe"));
  EXPECT_EQ(Lifecycle(reports), (std::vector<std::string>{"Destroyed"}));
}

TEST(Lifecycle, ABirthThatFailsIsReportedAndTheStopStillCleansUp) {
  host_test::ReportCollector reports;
  Engine engine({.report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  Instance& probe = engine.CreateInstance("HostProbe", "probe");
  probe.SetProperty("mode", "FailBirth");
  probe.Start();
  ASSERT_TRUE(
      reports.WaitFor([](const auto& r) { return r.text == "Birth ended with host signal -5"; }));
  EXPECT_TRUE(probe.HasFailed());
  probe.Stop();
  EXPECT_EQ(Lifecycle(reports),
            (std::vector<std::string>{"Birth", "Banzai", "Death", "Destroyed"}));
}

TEST(Lifecycle, TheEngineStopsRunningInstancesWhenItEnds) {
  host_test::ReportCollector reports;
  {
    Engine engine({.report_sink = reports.Sink()});
    engine.LoadPackage(PROBE_PACKAGE_PATH);
    engine.CreateInstance("HostProbe", "probe").Start();
    ASSERT_TRUE(reports.WaitFor([](const auto& r) { return r.text == "Birth"; }));
  }
  EXPECT_EQ(Lifecycle(reports),
            (std::vector<std::string>{"Birth", "Banzai", "Death", "Destroyed"}));
}

TEST(Lifecycle, TheThreadOfTheNtripClientPlaceholderStopsCleanly) {
  host_test::ReportCollector reports;
  Engine engine({.sampling_period_scale = 0.01, .report_sink = reports.Sink()});
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  Instance& client = engine.CreateInstance("NTRIP_Client", "NTRIP_Client_1");
  // Loopback only: with the default caster the component would probe and resolve outside hosts.
  client.SetProperty("ip", "127.0.0.1");
  client.SetProperty("log_destination", "Nothing");
  client.Start();
  client.PushSample("iGPSPos", {48.0, 11.0, 500.0, 0.02});
  client.Stop();
  EXPECT_FALSE(client.HasFailed());
  EXPECT_TRUE(reports.Texts(Kind::Error).empty());
  // It writes nothing.
  EXPECT_FALSE(client.PopOutput("oRawRTCM", std::chrono::milliseconds(0)).has_value());
}

TEST(Reports, TheConsoleLineCarriesTheInstanceNameAndTheKind) {
  EXPECT_EQ(maps_host::FormatReport({"NTRIP_Client_1", Kind::Warning, "Internet is not available"}),
            "NTRIP_Client_1 [Warning] Internet is not available");
}

TEST(Engine, TwoInstancesCannotShareAName) {
  Engine engine;
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  engine.CreateInstance("HostProbe", "probe");
  EXPECT_THROW(engine.CreateInstance("HostProbe", "probe"), std::invalid_argument);
}

}  // namespace
