#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine.h"
#include "property_value.h"
#include "report_collector.h"

namespace {

using maps_host::Engine;
using maps_host::Instance;
using maps_host::PropertyError;
using Kind = MAPS::ReportKind;

class NtripClientProperties : public ::testing::Test {
 protected:
  NtripClientProperties()
      : engine_({.sampling_period_scale = 0.001, .report_sink = reports_.Sink()}) {
    engine_.LoadPackage(NTRIP_PACKAGE_PATH);
  }
  Instance& Create() { return engine_.CreateInstance("NTRIP_Client", "NTRIP_Client_1"); }

  host_test::ReportCollector reports_;
  Engine engine_;
};

TEST_F(NtripClientProperties, AFreshInstanceShowsTheDeclaredDefaults) {
  Instance& client = Create();
  EXPECT_EQ(client.PropertyText("decode_rtcm"), "true");
  EXPECT_EQ(client.PropertyText("log_destination"), "Log");
  EXPECT_EQ(client.PropertyText("logging_path"), "R:");
  EXPECT_FALSE(client.PropertyText("ip").empty());
  EXPECT_EQ(client.PropertyText("port"), "2100");
  EXPECT_EQ(client.PropertyText("mountpoint"), "CASTER");
  EXPECT_EQ(client.PropertyText("username"), "");
  EXPECT_EQ(client.PropertyText("password"), "");
  EXPECT_EQ(client.PropertyText("position_accuracy"), "0.1");
  EXPECT_EQ(client.PropertyText("threaded"), "1");
  EXPECT_EQ(client.PropertyText("priority"), "128");
  EXPECT_EQ(client.PropertyText("autoStart"), "true");
  EXPECT_EQ(client.PropertyText("componentModelVersion"), "1.0");
  EXPECT_EQ(client.PropertyNames(),
            (std::vector<std::string>{"decode_rtcm", "log_destination", "logging_path", "ip",
                                      "port", "mountpoint", "username", "password",
                                      "position_accuracy", "tls", "tls_ca_file", "ntrip_version",
                                      "proxy", "proxy_username", "proxy_password", "threaded",
                                      "priority", "autoStart", "componentModelVersion"}));
  // The default directory is not checked: only a value being set is.
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
}

TEST_F(NtripClientProperties, EveryChangeAfterStartIsRefusedWithTheExactTextAndTheValueKept) {
  Instance& client = Create();
  ASSERT_TRUE(client.SetProperty("port", "2101"));
  client.Start();
  const char* names[] = {
      "decode_rtcm", "log_destination", "logging_path",      "ip",      "port", "mountpoint",
      "username",    "password",        "position_accuracy", "priority"};
  const char* values[] = {"false", "Nothing", "/tmp",   "127.0.0.1", "2200",
                          "OTHER", "someone", "secret", "0.5",       "10"};
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string before = client.PropertyText(names[i]);
    EXPECT_FALSE(client.SetProperty(names[i], values[i])) << names[i];
    EXPECT_EQ(client.PropertyText(names[i]), before) << names[i];
    EXPECT_TRUE(
        reports_.Has(Kind::Error, std::string("Failure while trying to set value of property ") +
                                      names[i] + ". This property can't be modified after start."))
        << names[i];
  }
  EXPECT_EQ(client.PropertyText("port"), "2101");
  client.Stop();
  EXPECT_FALSE(client.SetProperty("port", "2200"));
}

TEST_F(NtripClientProperties, ADirectoryValueThatIsNoDirectoryIsReportedAndKept) {
  Instance& client = Create();
  const std::string missing = "/nonexistent/host-test/logs";
  EXPECT_TRUE(client.SetProperty("logging_path", missing));
  EXPECT_TRUE(reports_.Has(Kind::Error, missing + " is not a directory."));
  EXPECT_EQ(client.PropertyText("logging_path"), missing);

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("host_test_file_" + std::to_string(getpid()));
  std::ofstream(file) << "x";
  EXPECT_TRUE(client.SetProperty("logging_path", file.string()));
  std::filesystem::remove(file);
  EXPECT_TRUE(reports_.Has(Kind::Error, file.string() + " is not a directory."));
  EXPECT_EQ(client.PropertyText("logging_path"), file.string());
}

TEST_F(NtripClientProperties, AnEmptyOrExistingDirectoryDrawsNoError) {
  Instance& client = Create();
  EXPECT_TRUE(client.SetProperty("logging_path", ""));
  EXPECT_EQ(client.PropertyText("logging_path"), "");
  EXPECT_TRUE(client.SetProperty("logging_path", std::filesystem::temp_directory_path().string()));
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
}

TEST_F(NtripClientProperties, OnlyTheDirectoryPropertyIsCheckedAsAPath) {
  Instance& client = Create();
  EXPECT_TRUE(client.SetProperty("mountpoint", "/nonexistent"));
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
}

TEST_F(NtripClientProperties, UnknownNamesAndBadValuesAreRefusedWithoutChange) {
  Instance& client = Create();
  EXPECT_THROW(client.SetProperty("no_such_property", "1"), PropertyError);
  EXPECT_THROW(client.SetProperty("decode_rtcm", "maybe"), PropertyError);
  EXPECT_THROW(client.SetProperty("position_accuracy", "abc"), PropertyError);
  EXPECT_THROW(client.SetProperty("position_accuracy", "nan"), PropertyError);
  EXPECT_THROW(client.SetProperty("position_accuracy", "0.1m"), PropertyError);
  EXPECT_THROW(client.SetProperty("log_destination", "File"), PropertyError);
  EXPECT_THROW(client.SetProperty("log_destination", "3"), PropertyError);
  EXPECT_EQ(client.PropertyText("decode_rtcm"), "true");
  EXPECT_EQ(client.PropertyText("position_accuracy"), "0.1");
  EXPECT_EQ(client.PropertyText("log_destination"), "Log");
  try {
    client.SetProperty("no_such_property", "1");
  } catch (const PropertyError& error) {
    EXPECT_NE(std::string(error.what()).find("no_such_property"), std::string::npos);
  }
}

TEST_F(NtripClientProperties, AnEnumerationTakesAnItemOrItsIndex) {
  Instance& client = Create();
  EXPECT_TRUE(client.SetProperty("log_destination", "Console"));
  EXPECT_EQ(client.PropertyText("log_destination"), "Console");
  EXPECT_TRUE(client.SetProperty("log_destination", "2"));
  EXPECT_EQ(client.PropertyText("log_destination"), "Nothing");
}

TEST_F(NtripClientProperties, APriorityOutOfRangeBecomes128) {
  Instance& client = Create();
  EXPECT_TRUE(client.SetProperty("priority", "300"));
  EXPECT_EQ(client.PropertyText("priority"), "128");
  EXPECT_TRUE(client.SetProperty("priority", "-1"));
  EXPECT_EQ(client.PropertyText("priority"), "128");
  EXPECT_TRUE(client.SetProperty("priority", "255"));
  EXPECT_EQ(client.PropertyText("priority"), "255");
}

TEST(PropertyGetters, TheComponentReadsEachKindThroughItsTypedGetter) {
  host_test::ReportCollector reports;
  Engine engine({.report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  Instance& probe = engine.CreateInstance("HostProbe", "probe_7");
  probe.SetProperty("mode", "Properties");
  probe.SetProperty("flag", "false");
  probe.SetProperty("burst_count", "-7");
  probe.SetProperty("ratio", "2.5");
  probe.SetProperty("label", "two words");
  probe.Start();
  ASSERT_TRUE(reports.WaitFor([](const auto& r) { return r.text.rfind("bool=", 0) == 0; }));
  probe.Stop();
  EXPECT_TRUE(reports.Has(Kind::Information,
                          "bool=0 int=-7 float=2.500000 enum=3 string=two words "
                          "enum-text=Properties name=probe_7"));
}

TEST(PropertyGetters, AWrongKindOrUnknownNameIsReportedAndRaisesTheErrorSignal) {
  host_test::ReportCollector reports;
  Engine engine({.report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  Instance& probe = engine.CreateInstance("HostProbe", "probe");
  probe.SetProperty("mode", "Properties");
  probe.Start();
  ASSERT_TRUE(
      reports.WaitFor([](const auto& r) { return r.text.rfind("unknown property", 0) == 0; }));
  probe.Stop();
  EXPECT_TRUE(reports.Has(Kind::Error, "Property label cannot be read as boolean."));
  EXPECT_TRUE(reports.Has(Kind::Information, "wrong kind signal -5"));
  EXPECT_TRUE(reports.Has(Kind::Error, "Property no_such_property does not exist."));
  EXPECT_TRUE(reports.Has(Kind::Information, "unknown property signal -5"));
}

TEST(PropertyValueText, NumbersAreWholeDecimalTextAndFloatsAreFinite) {
  maps_host::PropertyInfo integer{"n", MAPS::PropertyKind::Integer, {}, 0};
  maps_host::PropertyInfo real{"x", MAPS::PropertyKind::Float, {}, 0};
  EXPECT_EQ(maps_host::ParsePropertyValue(integer, "+42"),
            maps_host::PropertyValue{std::int64_t{42}});
  EXPECT_FALSE(maps_host::ParsePropertyValue(integer, " 42"));
  EXPECT_FALSE(maps_host::ParsePropertyValue(integer, "42 "));
  EXPECT_FALSE(maps_host::ParsePropertyValue(integer, ""));
  EXPECT_FALSE(maps_host::ParsePropertyValue(integer, "99999999999999999999"));
  EXPECT_EQ(maps_host::ParsePropertyValue(real, "1e-3"), maps_host::PropertyValue{0.001});
  EXPECT_FALSE(maps_host::ParsePropertyValue(real, "inf"));
  EXPECT_FALSE(maps_host::ParsePropertyValue(real, "+"));
  EXPECT_FALSE(maps_host::ParsePropertyValue(integer, "+-5"));
  EXPECT_FALSE(maps_host::ParsePropertyValue(real, "+-1.5"));
  EXPECT_EQ(maps_host::FormatPropertyValue(real, 0.1), "0.1");
}

}  // namespace
