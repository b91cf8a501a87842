// Casters (or settings) with which no stream can be set up: the component never publishes a
// byte, retries with growing spacing instead of at every sample, and stops promptly at any moment.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fault_fixture.h"

using namespace fault_test;

namespace {

constexpr const char* kSpacedWait = "Waiting before the next connection attempt";

// How a failed set-up shows: caster connections, or, with no caster reached, a report per try.
enum class Attempts { CasterConnections, InitSocketReports };

struct SetupFault {
  std::string name = {};
  std::function<caster::CasterOptions()> caster = {};
  std::vector<std::pair<std::string, std::string>> properties = {};  // over the harness defaults
  std::string mountpoint = "RTCM3";
  Attempts attempts = Attempts::CasterConnections;
  // Failures that drop a built client log the delay before the next try, growing.
  bool logs_next_delay = true;
  // The answer head was a stream's: the writers start, and stop when the link is found lost.
  bool answer_accepted = false;
};

std::ostream& operator<<(std::ostream& out, const SetupFault& f) {
  return out << f.name;
}

caster::CasterOptions WithFault(caster::FaultMode mode, std::string status_line = "") {
  auto o = ServeRecording("pygpsdata-RTCM3.log");
  o.fault.mode = mode;
  o.fault.status_line = std::move(status_line);
  return o;
}

const SetupFault kSetupFaults[] = {
    {.name = "StallBeforeTheHeaders",
     .caster = [] { return WithFault(caster::FaultMode::NeverAnswer); }},
    {.name = "EndlessHeaders",
     .caster = [] { return WithFault(caster::FaultMode::EndlessHeaders); }},
    {.name = "Unauthorized401",
     .caster =
         [] { return WithFault(caster::FaultMode::StatusLine, "HTTP/1.1 401 Unauthorized"); }},
    {.name = "UnknownMountPoint404",
     .caster = [] { return ServeRecording("pygpsdata-RTCM3.log"); },
     .mountpoint = "NOSUCHMOUNT"},
    {.name = "SourcetableAnswer",
     .caster = [] { return WithFault(caster::FaultMode::Sourcetable); }},
    // A caster that hangs up before the first stream byte is a failed set-up too.
    {.name = "CloseRightAfterTheAnswer",
     .caster =
         [] {
           auto o = ServeRecording("pygpsdata-RTCM3.log");
           o.fault = {caster::FaultMode::CloseAfter, 0, ""};
           return o;
         },
     .logs_next_delay = false,
     .answer_accepted = true},
    {.name = "ResetRightAfterTheAnswer",
     .caster =
         [] {
           auto o = ServeRecording("pygpsdata-RTCM3.log");
           o.fault = {caster::FaultMode::Reset, 0, ""};
           return o;
         },
     .logs_next_delay = false,
     .answer_accepted = true},
    {.name = "RefusedPort",
     .caster = [] { return ServeRecording("pygpsdata-RTCM3.log"); },
     .properties = {{"port", "refused"}},  // replaced by a free loopback port below
     .attempts = Attempts::InitSocketReports},
};

ComponentOptions OptionsFor(const SetupFault& f) {
  ComponentOptions options;
  options.mountpoint = f.mountpoint;
  for (auto [name, value] : f.properties) {
    if (name == "port" && value == "refused") value = std::to_string(RefusedLoopbackPort());
    options.properties.emplace_back(name, value);
  }
  return options;
}

std::size_t AttemptCount(ComponentHarness& h, Attempts kind) {
  switch (kind) {
    case Attempts::CasterConnections: {
      // The sourcetable fetched once for an unknown mount point is no set-up attempt.
      std::size_t attempts = 0;
      for (std::size_t i = 0; i < h.Connections(); ++i) {
        if (h.Caster().Connection(i).request.rfind("GET / ", 0) != 0) ++attempts;
      }
      return attempts;
    }
    case Attempts::InitSocketReports:
      return h.CountInfo("Error with Boost Initialisation");
  }
  return 0;
}

class SetupFaults : public ::testing::TestWithParam<SetupFault> {};

}  // namespace

TEST_P(SetupFaults, NothingIsPublishedAndRetriesAreSpacedFurtherAndFurtherApart) {
  const SetupFault& f = GetParam();
  ComponentHarness h(f.caster(), OptionsFor(f));
  h.Start();
  // Spacing 0.1, 0.2, 0.4 s between the first four tries at ten samples a second.
  ASSERT_TRUE(Eventually([&] { return AttemptCount(h, f.attempts) >= 4; }, 20s))
      << AttemptCount(h, f.attempts) << " attempts";
  EXPECT_LT(h.Stop(), 5s);

  EXPECT_TRUE(h.Raw().Elements().empty());
  EXPECT_TRUE(h.Decoded().Elements().empty());
  EXPECT_EQ(h.ServingConnections(), 0u);
  if (!f.answer_accepted) {
    EXPECT_EQ(h.CountInfo("WriteRTCMBuffer Start"), 0u);
  }
  // Samples came in between the tries and were told to wait, with the failures counted up.
  // (The first pause, one sampling period long, may fall between two samples.)
  const auto waits = InfoStartingWith(h, kSpacedWait);
  for (const char* after : {" after 2 failed attempts", " after 3 failed attempts"}) {
    EXPECT_TRUE(
        std::any_of(waits.begin(), waits.end(),
                    [&](const std::string& text) { return text.find(after) != std::string::npos; }))
        << "no wait logged" << after;
  }
  const std::size_t samples = h.CountInfo("first_time_process Start");
  EXPECT_GT(samples, AttemptCount(h, f.attempts) + 2);
  if (f.logs_next_delay) {
    const auto delays = InfoStartingWith(h, "Next connection attempt in ");
    ASSERT_GE(delays.size(), 3u);
    EXPECT_EQ(delays[0], "Next connection attempt in 0.1 s");
    EXPECT_EQ(delays[1], "Next connection attempt in 0.2 s");
    EXPECT_EQ(delays[2], "Next connection attempt in 0.4 s");
  }
}

TEST_P(SetupFaults, HostStopDuringTheFailingSetUpEndsPromptly) {
  const SetupFault& f = GetParam();
  ComponentHarness h(f.caster(), OptionsFor(f));
  h.Start();
  // A second try is under way or done, and the next one is being spaced.
  ASSERT_TRUE(Eventually([&] { return AttemptCount(h, f.attempts) >= 2; }, 20s));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_TRUE(h.Raw().Elements().empty());
}

// Values that would rewrite the request never reach a client, nor the internet probe (which
// would ping an outside host for an `ip` that is no local address): an error at start, never
// again.
TEST(SetupRefusals, RefusedValuesAreReportedAtStartAndNoClientIsBuilt) {
  ComponentOptions options;
  options.properties = {{"ip", "127.0.0.1 "}, {"port", "0002223"}};
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.CountInfo("first_time_process Start") >= 5; }, 20s));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_EQ(h.Connections(), 0u);
  std::size_t errors = 0;
  for (const auto& report : h.Reports().All()) {
    if (report.kind != MAPS::ReportKind::Error) continue;
    ++errors;
    EXPECT_NE(report.text.find("ip \"127.0.0.1 \" is refused"), std::string::npos) << report.text;
    EXPECT_NE(report.text.find("port \"0002223\" is refused"), std::string::npos) << report.text;
  }
  // The report and, with the console as log destination, the log line of the same start.
  EXPECT_GE(errors, 1u);
  EXPECT_EQ(h.CountInfo("first_time_process End"), 0u);
  EXPECT_EQ(CountReportsContaining(h, "Internet"), 0u);
}

// Each fault's report names the party that failed and what to do, as the user reads it.
struct BlamedFault {
  std::string name;
  std::function<caster::CasterOptions()> caster;
  std::vector<std::pair<std::string, std::string>> properties;
  std::string mountpoint;
  std::string report;  // a part of the report the fault must draw
  bool caster_as_proxy = false;  // the caster is set as the proxy too
};

std::ostream& operator<<(std::ostream& out, const BlamedFault& f) {
  return out << f.name;
}

const BlamedFault kBlamedFaults[] = {
    {"MountListedButNotStreaming", [] { return WithFault(caster::FaultMode::Sourcetable); }, {},
     "RTCM3", "RTCM3 is listed by the caster but not streaming now; it answered with its sourcetable"},
    {"MountNotListed", [] { return ServeRecording("pygpsdata-RTCM3.log"); }, {}, "NOSUCHMOUNT",
     "mount point NOSUCHMOUNT is not on this caster; its mount points, nearest first: RTCM3"},
    {"Ntrip2ForcedOnACasterOfNtrip1Alone",
     [] { return WithFault(caster::FaultMode::Ntrip1Only); },
     {{"ntrip_version", "2.0"}},
     "RTCM3",
     "refused the NTRIP 2.0 request for RTCM3 (status 400): the caster may speak NTRIP 1.0 alone; "
     "try ntrip_version=auto or 1.0"},
    {"SilentCaster",
     [] {
       auto o = ServeRecording("pygpsdata-RTCM3.log");
       o.fault = {caster::FaultMode::StallAfter, 3000, ""};
       return o;
     },
     {},
     "RTCM3",
     "connection lost: no data for 3 s"},
    {"Ipv6CasterInBrackets",
     [] {
       auto o = ServeRecording("pygpsdata-RTCM3.log");
       o.listen_address = "::1";
       return o;
     },
     {{"ip", "::1"}},
     "RTCM3",
     "connected to [::1]:"},
    {"BodyNotInTheCodingNamed",
     [] {
       return WithFault(caster::FaultMode::Answer,
                        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n");
     },
     {},
     "RTCM3",
     "the caster's body does not match the framing and codings it named (chunked, gzip)"},
    {"ProxySendsBytesAfterIts200",
     [] {
       auto o = ServeRecording("pygpsdata-RTCM3.log");
       o.fault.mode = caster::FaultMode::StatusLine;
       o.fault.status_line = "HTTP/1.1 200 Connection established\r\n\r\nnot from the caster";
       return o;
     },
     {},
     "RTCM3",
     " bytes of its own after its 200 answer to CONNECT, before the caster was asked anything: "
     "check proxy",
     true},
};

class BlamedFaults : public ::testing::TestWithParam<BlamedFault> {};

TEST_P(BlamedFaults, TheReportNamesWhoFailedAndWhatToDo) {
  const BlamedFault& f = GetParam();
  ComponentOptions options;
  options.mountpoint = f.mountpoint;
  options.properties = f.properties;
  ComponentHarness h(f.caster(), options);
  if (f.caster_as_proxy) h.Set("proxy", "127.0.0.1:" + std::to_string(h.Caster().Port()));
  h.Start();
  EXPECT_TRUE(Eventually([&] { return CountReportsContaining(h, f.report) >= 1; }, 20s));
  h.Stop();
  if (CountReportsContaining(h, f.report) == 0) {
    for (const auto& report : h.Reports().All()) {
      if (report.kind != MAPS::ReportKind::Information || report.text.find("connection") == 0) {
        ADD_FAILURE() << "reported: " << report.text;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CasterFaults, BlamedFaults, ::testing::ValuesIn(kBlamedFaults),
                         [](const ::testing::TestParamInfo<BlamedFault>& info) {
                           return info.param.name;
                         });

INSTANTIATE_TEST_SUITE_P(CasterFaults, SetupFaults, ::testing::ValuesIn(kSetupFaults),
                         [](const ::testing::TestParamInfo<SetupFault>& info) {
                           return info.param.name;
                         });
