#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "engine.h"
#include "report_collector.h"

namespace {

using maps_host::Engine;
using maps_host::PackageError;

std::string LoadError(const std::filesystem::path& path) {
  Engine engine;
  try {
    engine.LoadPackage(path);
  } catch (const PackageError& error) {
    return error.what();
  }
  return "";
}

TEST(PackageLoading, ThePackageDeclaresTheNtripClientModel) {
  Engine engine;
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  const MAPS::ModuleDefinition* model = engine.FindModel("NTRIP_Client");
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->version, "1.0");
  EXPECT_STREQ(model->class_name, "MAPS_NTRIP_Client");
  EXPECT_STREQ(model->base_class_name, "MAPSComponent");
  EXPECT_STREQ(model->identification, "$!MAPS_MODULE!MAPSComponent!NTRIP_Client!$!1.0!$");
  EXPECT_EQ(model->priority, 128);
  EXPECT_EQ(model->host_setting, 3);
  EXPECT_EQ(model->threaded, 1);

  ASSERT_EQ(model->inputs.size(), 1U);
  EXPECT_STREQ(model->inputs[0].name, "iGPSPos");
  EXPECT_EQ(model->inputs[0].type_code, 4);

  ASSERT_EQ(model->outputs.size(), 2U);
  const char* names[] = {"oRawRTCM", "oDecodeRTCM"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_STREQ(model->outputs[i].name, names[i]);
    EXPECT_EQ(model->outputs[i].type_code, 0x1000);
    EXPECT_EQ(model->outputs[i].buffer_size, 2048);
    EXPECT_EQ(model->outputs[i].fifo_size, 16);
    EXPECT_STREQ(model->outputs[i].description, "");
    EXPECT_STREQ(model->outputs[i].unit, "");
    EXPECT_EQ(model->outputs[i].settings[0], 1);
    EXPECT_EQ(model->outputs[i].settings[1], 1);
  }

  const char* properties[] = {
      "decode_rtcm", "log_destination", "logging_path",      "ip",  "port",       "mountpoint",
      "username",    "password",        "position_accuracy", "tls", "tls_ca_file",
      "ntrip_version", "proxy", "proxy_username", "proxy_password"};
  ASSERT_EQ(model->properties.size(), 15U);
  for (std::size_t i = 0; i < 15; ++i) EXPECT_STREQ(model->properties[i].name, properties[i]);
  EXPECT_EQ(model->properties[1].kind, MAPS::PropertyKind::Enumeration);
  EXPECT_STREQ(model->properties[1].default_value, "Log|Console|Nothing");
  EXPECT_EQ(model->properties[2].sub_type, 96);
  for (std::size_t i = 0; i < 11; ++i) {
    if (i != 2) {
      EXPECT_EQ(model->properties[i].sub_type, 0) << properties[i];
    }
  }
}

TEST(PackageLoading, AMissingFileGivesAnErrorNamingThePath) {
  const std::string path = "/nonexistent/folder/ntrip_client_package.so";
  const std::string message = LoadError(path);
  EXPECT_NE(message.find(path), std::string::npos) << message;
  EXPECT_NE(message.find("no such file"), std::string::npos) << message;
}

TEST(PackageLoading, AFileThatIsNoLibraryGivesAnErrorNamingThePath) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("host_test_text_" + std::to_string(getpid()) + ".so");
  { std::ofstream(path) << "this is not a shared library\n"; }
  const std::string message = LoadError(path);
  std::filesystem::remove(path);
  EXPECT_NE(message.find(path.string()), std::string::npos) << message;
}

TEST(PackageLoading, ALibraryWithoutTheExportsIsNotAPackage) {
  const std::string message = LoadError(NOT_A_PACKAGE_PATH);
  EXPECT_NE(message.find(NOT_A_PACKAGE_PATH), std::string::npos) << message;
  EXPECT_NE(message.find("is not a package"), std::string::npos) << message;
  EXPECT_NE(message.find("MAPSPckInit"), std::string::npos) << message;
}

TEST(PackageLoading, AnUnknownModelIsRefused) {
  Engine engine;
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  EXPECT_EQ(engine.FindModel("NoSuchModel"), nullptr);
  EXPECT_THROW(engine.CreateInstance("NoSuchModel", "x"), std::invalid_argument);
}

TEST(PackageLoading, APackageUnloadsAndLoadsAgainAfterItsInstancesRan) {
  host_test::ReportCollector reports;
  Engine engine({.sampling_period_scale = 0.001, .report_sink = reports.Sink()});
  engine.LoadPackage(PROBE_PACKAGE_PATH);
  maps_host::Instance& first = engine.CreateInstance("HostProbe", "probe_1");
  first.Start();
  first.PushSample("iValues", {1.0});
  ASSERT_TRUE(first.PopOutput("oEvents", std::chrono::seconds(10)).has_value());
  engine.DestroyInstance(first);
  engine.UnloadPackages();
  EXPECT_EQ(engine.FindModel("HostProbe"), nullptr);

  engine.LoadPackage(PROBE_PACKAGE_PATH);
  maps_host::Instance& second = engine.CreateInstance("HostProbe", "probe_2");
  second.Start();
  second.PushSample("iValues", {2.0});
  const auto element = second.PopOutput("oEvents", std::chrono::seconds(10));
  ASSERT_TRUE(element.has_value());
  EXPECT_EQ(host_test::ElementText(*element).rfind("first 2.000000 ", 0), 0U);
}

TEST(PackageLoading, TwoEnginesInOneProcessShareAPackage) {
  host_test::ReportCollector first_reports;
  host_test::ReportCollector second_reports;
  Engine first({.report_sink = first_reports.Sink()});
  Engine second({.report_sink = second_reports.Sink()});
  first.LoadPackage(PROBE_PACKAGE_PATH);
  second.LoadPackage(PROBE_PACKAGE_PATH);  // initialises the package again
  maps_host::Instance& instance = first.CreateInstance("HostProbe", "probe");
  instance.Start();
  ASSERT_TRUE(first_reports.WaitFor([](const auto& r) { return r.text == "Birth"; }));
  EXPECT_TRUE(second_reports.All().empty());
}

}  // namespace
