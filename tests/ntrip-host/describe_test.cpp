#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "describe.h"
#include "engine.h"

namespace {

using maps_host::Engine;

TEST(Describe, ListsTheModelItsPortsAndThePropertiesInDeclarationOrder) {
  Engine engine;
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  const std::string text = ntrip_host::DescribeModule(*engine.FindModel("NTRIP_Client"));
  const char* lines[] = {
      "model NTRIP_Client version 1.0\n",
      "input iGPSPos type 4\n",
      "output oRawRTCM buffer 2048 fifo 16\n",
      "output oDecodeRTCM buffer 2048 fifo 16\n",
      "decode_rtcm boolean true\n",
      "log_destination enumeration:Log|Console|Nothing Log\n",
      "logging_path string:directory R:\n",
      "\nip string ",
      "port string 2100\n",
      "mountpoint string CASTER\n",
      "username string \"\"\n",
      "password string (not set)\n",
      "position_accuracy float 0.1\n",
      "tls boolean false\n",
      "tls_ca_file string \"\"\n",
      "ntrip_version enumeration:auto|2.0|1.0 auto\n",
      "proxy string \"\"\n",
      "proxy_username string \"\"\n",
      "proxy_password string (not set)\n",
      "threaded integer 1\n",
      "priority integer 128\n",
      "autoStart boolean true\n",
      "componentModelVersion string 1.0\n",
  };
  std::size_t from = 0;
  for (const char* line : lines) {
    const std::size_t at = text.find(line, from);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << text;
    from = at;
  }
}

TEST(Describe, ShowsWhatTheUserSetWithItsOriginAndSecretsOnlyAsSet) {
  Engine engine;
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  const std::string text = ntrip_host::DescribeModule(
      *engine.FindModel("NTRIP_Client"), {{"port", "2101", "ntrip.conf:3"},
                                          {"port", "2102", ""},
                                          {"password", "hunter2", "ntrip.conf:4"}});
  EXPECT_NE(text.find("port string 2102 (--set; default 2100)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("password string (set) (ntrip.conf:4; default (not set))\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
}

TEST(Describe, TheDefaultPackageSitsInTheLibFolderNextToTheBinFolder) {
  EXPECT_EQ(ntrip_host::DefaultPackagePath("/work/build/bin/ntrip-host"),
            std::filesystem::path("/work/build/lib/ntrip-host/ntrip_client_package.so"));
}

}  // namespace
