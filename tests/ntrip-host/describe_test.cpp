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

TEST(Describe, TheDefaultPackageSitsInTheLibFolderNextToTheBinFolder) {
  EXPECT_EQ(ntrip_host::DefaultPackagePath("/work/build/bin/ntrip-host"),
            std::filesystem::path("/work/build/lib/ntrip-host/ntrip_client_package.so"));
}

}  // namespace
