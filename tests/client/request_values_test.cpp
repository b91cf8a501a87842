// The property values that go into the request: what would rewrite it is refused with the
// property's name, what casters use passes. The `ip` rule runs before the internet probe, so a
// value that is no address must never pass (the probe would ping an outside host for it).
#include "request_values.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

void ExpectRefused(std::string (*check)(std::string_view), const std::string& value,
                   const std::string& property) {
  const std::string reason = check(value);
  EXPECT_EQ(reason.rfind(property + " \"", 0), 0u) << "accepted: \"" << value << "\" " << reason;
  EXPECT_EQ(reason.find('\r'), std::string::npos);
  EXPECT_EQ(reason.find('\n'), std::string::npos);
}

TEST(RequestValues, ValuesThatWouldChangeTheRequestAreRefusedByName) {
  for (const std::string& bad : std::vector<std::string>{
           "", "M HTTP/1.1\r\nX-Injected: yes", "A B", "A?x=1", "A#b", "a/../b", "/A", ".", "..",
           "M\xc3\xa9", std::string("M\0", 2), "M\t"}) {
    ExpectRefused(tarno::CheckMountpoint, bad, "mountpoint");
  }
  for (const std::string& bad : std::vector<std::string>{
           "", " 127.0.0.1", "127.0.0.1 ", "caster .example", "a\r\nb", "host/path", "[127.0.0.1]",
           "-caster.net", "caster..net", "h\xc3\xa9"}) {
    ExpectRefused(tarno::CheckCasterHost, bad, "ip");
  }
  for (const std::string& bad :
       std::vector<std::string>{"", "0", "70000", "65536", " 2101", "2101 ", "+2101", "-1",
                                "0002223", "21o1", "2101\n"}) {
    ExpectRefused(tarno::CheckPort, bad, "port");
  }
  for (const std::string& bad :
       std::vector<std::string>{"user:name", "user\r\n", std::string("u\0", 2)}) {
    ExpectRefused(tarno::CheckUsername, bad, "username");
  }
}

TEST(RequestValues, WhatCastersUsePassesAndIpv6GoesIntoHostInBrackets) {
  for (const char* mount : {"RTCM3", "MSM_7-x.1", "a~b"})
    EXPECT_EQ(tarno::CheckMountpoint(mount), "");
  for (const char* host : {"rtk2go.com", "caster.example.net.", "localhost", "127.0.0.1", "::1",
                           "[::1]", "fe80::1", "my_caster-2"}) {
    EXPECT_EQ(tarno::CheckCasterHost(host), "") << host;
  }
  for (const char* port : {"1", "2101", "65535"}) EXPECT_EQ(tarno::CheckPort(port), "") << port;
  for (const char* user : {"", "alice", "a b@c.d"}) EXPECT_EQ(tarno::CheckUsername(user), "");
  EXPECT_EQ(tarno::HostHeaderValue("::1"), "[::1]");
  EXPECT_EQ(tarno::HostHeaderValue("[::1]"), "[::1]");
  EXPECT_EQ(tarno::BareHost("[::1]"), "::1");
  EXPECT_EQ(tarno::HostHeaderValue("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(tarno::HostHeaderValue("caster.example.net"), "caster.example.net");
}

}  // namespace
