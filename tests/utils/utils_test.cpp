#include "utils.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "log.h"

namespace {

// Captures what the probe logs, so the judgement's side effects can be checked.
struct LogCapture {
  LogCapture() {
    tarno::ActiveLogWriter = [this](const char* m, int imp, tarno::SourceLocation) {
      lines.emplace_back(std::to_string(imp) + ":" + m);
    };
  }
  ~LogCapture() { tarno::ActiveLogWriter = tarno::WriteLogToStdout; }
  std::vector<std::string> lines;
};

tarno::CommandRunner Feed(std::string output, std::string* seen = nullptr) {
  return [output, seen](const std::string& cmd) {
    if (seen) *seen = cmd;
    return output;
  };
}

}  // namespace

TEST(InternetProbe, MarkerInTheMiddleOfALineCountsAsAnAnswer) {
  LogCapture log;
  std::string cmd;
  EXPECT_TRUE(tarno::IsInternetAvailable(
      Feed("64 bytes from 142.250.1.1: icmp_seq=1 TTL=117 time=12.3 ms\n", &cmd)));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_NE(cmd.find(tarno::kProbeHost), std::string::npos);
}

TEST(InternetProbe, OutputWithoutTheMarkerIsNoAnswerAndSaysSo) {
  LogCapture log;
  EXPECT_FALSE(tarno::IsInternetAvailable(
      Feed("From 10.0.0.1 icmp_seq=1 Destination Host Unreachable\n")));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"3:Couldn't reach the IP",
                                                 "3:Please check the IP Address"}));
}

TEST(InternetProbe, EmptyAndShortOutputsAreNoAnswer) {
  LogCapture log;
  EXPECT_FALSE(tarno::IsInternetAvailable(Feed("")));
  EXPECT_FALSE(tarno::IsInternetAvailable(Feed("TTL")));
  EXPECT_TRUE(tarno::IsInternetAvailable(Feed("TTL=")));
}

TEST(InternetProbe, LowerCaseLinuxMarkerIsNotTheMarker) {
  // The command line's filter turns "ttl=" into "TTL="; raw lower-case output alone is not a reply.
  LogCapture log;
  EXPECT_FALSE(tarno::IsInternetAvailable(Feed("64 bytes from x: ttl=64")));
}

// Address literals go through the real resolver, which parses them without asking any name
// server; names come from this table, so no test sends a query off the machine.
std::vector<std::string> LocalResolve(const std::string& host) {
  static const std::map<std::string, std::vector<std::string>> kNames = {
      {"localhost", {"127.0.0.1", "::1"}},
      {"LocalHost", {"127.0.0.1"}},
      {"caster.lan", {"192.168.1.20", "fd00::20"}},
      {"caster.example.com", {"198.51.100.7"}},
      {"half.example", {"10.0.0.2", "203.0.113.5"}},
  };
  if (const auto it = kNames.find(host); it != kNames.end()) return it->second;
  if (host.find_first_not_of("0123456789abcdefABCDEFx.:") != std::string::npos) return {};
  return tarno::ResolveHost(host);
}

TEST(LocalCaster, LoopbackPrivateLinkLocalAndUniqueLocalAreLocal) {
  for (const char* h : {"localhost", "LocalHost", "127.0.0.1", "127.8.9.10", "10.1.2.3",
                        "172.16.0.1", "172.31.255.255", "192.168.1.20", "169.254.3.4", "::1",
                        "[::1]", "fe80::1", "fd12:3456::1", "fc00::5", "::ffff:192.168.0.1"})
    EXPECT_TRUE(tarno::IsLocalCasterAddress(h, LocalResolve)) << h;
}

TEST(LocalCaster, PublicAddressesAndNamesAreNotLocal) {
  for (const char* h : {"caster.example.com", "8.8.8.8", "172.32.0.1", "172.15.0.1", "193.168.0.1",
                        "2001:db8::1", "", "localhost.example"})
    EXPECT_FALSE(tarno::IsLocalCasterAddress(h, LocalResolve)) << h;
}

TEST(LocalCaster, JudgedOnTheResolvedAddressesNotOnTheSpelling) {
  // Short and numeric spellings of loopback; a name whose addresses are all on the local network.
  for (const char* h : {"127.1", "0x7f.1", "2130706433", "caster.lan"})
    EXPECT_TRUE(tarno::IsLocalCasterAddress(h, LocalResolve)) << h;
  // One public address is enough to need the internet.
  EXPECT_FALSE(tarno::IsLocalCasterAddress("half.example", LocalResolve));
  std::vector<std::string> asked;
  tarno::IsLocalCasterAddress("[fe80::1]", [&](const std::string& host) {
    asked.push_back(host);
    return std::vector<std::string>{};
  });
  EXPECT_EQ(asked, std::vector<std::string>{"fe80::1"});
}
