// Casters that misbehave once the stream has started (or serve it in an unusual way): the
// component rebuilds its client where the link is lost, and oRawRTCM carries exactly the bytes
// every connection served, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

#include "fault_fixture.h"

using namespace fault_test;

namespace {

constexpr const char* kRestart = "Socket State is below Connected => Restart the socket";
constexpr const char* kSpacedWait = "Waiting before the next connection attempt";
constexpr std::size_t kCutMidFrame = 1500;  // inside the third frame of the recording below

caster::CasterOptions FramesOnly() {
  return ServeRecording("pygpsdata-NTRIP-4076.log");
}

struct StreamFault {
  std::string name = {};
  std::function<caster::CasterOptions()> caster = {};
  std::string ip = "127.0.0.1";
  bool rebuilds = true;  // the link is lost and the component must build a new client
  std::size_t serving_connections = 2;  // connections with stream bytes before the check
  std::size_t raw_bytes = 0;            // raw output reached before the check
  // True once the fault is in effect, for the stop case.
  std::function<bool(ComponentHarness&)> fault_active = {};
};

std::ostream& operator<<(std::ostream& out, const StreamFault& f) {
  return out << f.name;
}

bool FirstConnectionClosed(ComponentHarness& h) {
  return h.Connections() >= 1 && h.Caster().Connection(0).closed;
}

const StreamFault kStreamFaults[] = {
    {.name = "CloseMidFrame",
     .caster =
         [] {
           auto o = FramesOnly();
           o.fault = {caster::FaultMode::CloseAfter, kCutMidFrame, ""};
           return o;
         },
     .serving_connections = 3,
     .raw_bytes = 2 * kCutMidFrame + 1,
     .fault_active = FirstConnectionClosed},
    {.name = "ResetMidFrame",
     .caster =
         [] {
           auto o = FramesOnly();
           o.fault = {caster::FaultMode::Reset, kCutMidFrame, ""};
           return o;
         },
     .serving_connections = 3,
     .raw_bytes = 2 * kCutMidFrame + 1,
     .fault_active = FirstConnectionClosed},
    {.name = "CloseMidFrameWithoutChunkedFraming",
     .caster =
         [] {
           auto o = FramesOnly();
           o.chunked = false;
           o.fault = {caster::FaultMode::CloseAfter, kCutMidFrame, ""};
           return o;
         },
     .serving_connections = 3,
     .raw_bytes = 2 * kCutMidFrame + 1,
     .fault_active = FirstConnectionClosed},
    {.name = "StallMidStream",
     .caster =
         [] {
           auto o = ServeRecording("pygpsdata-RTCM3.log");
           o.fault = {caster::FaultMode::StallAfter, 1000, ""};
           return o;
         },
     .serving_connections = 2,
     .raw_bytes = 1001,
     .fault_active =
         [](ComponentHarness& h) {
           return h.Raw().Bytes().size() >= 1000 && h.Caster().Connection(0).served.size() == 1000;
         }},
    {.name = "GarbageInsteadOfRtcm",
     .caster =
         [] {
           auto o = ServeRecording("pygpsdata-RTCM3.log");
           o.fault.mode = caster::FaultMode::Garbage;
           o.max_bytes = 3000;  // ends each connection, so the rebuild is seen too
           return o;
         },
     .serving_connections = 2,
     .raw_bytes = 3001,
     .fault_active = [](ComponentHarness& h) { return h.Raw().Bytes().size() >= 500; }},
    {.name = "OneByteEvery100Ms",
     .caster = [] { return ServeRecording("pygpsdata-RTCM3.log", 10); },
     .rebuilds = false,
     .serving_connections = 1,
     .raw_bytes = 12,
     .fault_active = [](ComponentHarness& h) { return h.Raw().Bytes().size() >= 3; }},
    {.name = "IPv6Loopback",
     .caster =
         [] {
           auto o = ServeRecording("pygpsdata-RTCM3.log");
           o.listen_address = "::1";
           return o;
         },
     .ip = "::1",
     .rebuilds = false,
     .serving_connections = 1,
     .raw_bytes = 3000,
     .fault_active = [](ComponentHarness& h) { return h.Raw().Bytes().size() >= 500; }},
};

ComponentOptions OptionsFor(const StreamFault& f) {
  ComponentOptions options;
  options.properties = {{"ip", f.ip}};
  return options;
}

class StreamFaults : public ::testing::TestWithParam<StreamFault> {};

}  // namespace

TEST_P(StreamFaults, RawOutputIsExactlyTheServedBytesAndTheClientIsRebuiltWhenTheLinkIsLost) {
  const StreamFault& f = GetParam();
  ComponentHarness h(f.caster(), OptionsFor(f));
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.ServingConnections() >= f.serving_connections; }, 20s))
      << h.ServingConnections() << " serving connections";
  ASSERT_TRUE(
      h.Raw().WaitUntil([&](const OutputLog& l) { return l.Bytes().size() >= f.raw_bytes; }, 20s))
      << h.Raw().Bytes().size() << " raw bytes";
  EXPECT_LT(h.Stop(), 5s);

  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
  EXPECT_TRUE(h.Reports().Has(MAPS::ReportKind::Information,
                              "Connecting to " + f.ip + ":" + std::to_string(h.Caster().Port())));
  for (const auto& element : h.Raw().Elements()) {
    EXPECT_GE(element.size(), 1u);
    EXPECT_LE(element.size(), 2048u);
  }
  if (f.rebuilds) {
    EXPECT_GE(h.CountInfo(kRestart), f.serving_connections - 1);
  } else {
    EXPECT_EQ(h.CountInfo(kRestart), 0u);
    EXPECT_EQ(h.Connections(), 1u);
  }
  // Every lost link had carried data, so no rebuild waits for a retry slot.
  EXPECT_EQ(CountInfoStartingWith(h, kSpacedWait), 0u);
}

TEST_P(StreamFaults, HostStopWhileTheFaultIsInEffectEndsPromptlyAndLosesNothing) {
  const StreamFault& f = GetParam();
  ComponentHarness h(f.caster(), OptionsFor(f));
  h.Start();
  ASSERT_TRUE(Eventually([&] { return f.fault_active(h); }, 20s));
  EXPECT_LT(h.Stop(), 5s);
  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
}

INSTANTIATE_TEST_SUITE_P(CasterFaults, StreamFaults, ::testing::ValuesIn(kStreamFaults),
                         [](const ::testing::TestParamInfo<StreamFault>& info) {
                           return info.param.name;
                         });

TEST(StreamFaultPreconditions, TheCloseAndResetCutFallsInsideAFrame) {
  const auto ends = FrameEnds(Recording("pygpsdata-NTRIP-4076.log"));
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(std::count(ends.begin(), ends.end(), kCutMidFrame), 0);
  EXPECT_LT(ends.front(), kCutMidFrame);
}

TEST(StreamFaultsGarbage, GarbageBytesComeOutUnchangedAndDecodeToNothing) {
  auto o = ServeRecording("pygpsdata-RTCM3.log");
  o.fault.mode = caster::FaultMode::Garbage;
  ComponentHarness h(o);
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 4000; }, 20s));
  EXPECT_LT(h.Stop(), 5s);
  const std::string raw = h.Raw().Bytes();
  EXPECT_TRUE(IsPrefixOfServed(raw, h.ServedBytes()));
  EXPECT_EQ(raw.find('\xD3'), std::string::npos);  // the caster's garbage avoids the preamble
  EXPECT_EQ(h.Decoded().Bytes().find("Station id"), std::string::npos);
  EXPECT_EQ(h.Connections(), 1u);
}

// A caster that hangs up after a few bytes, again and again: each such link counts as a failed
// set-up, so the tries are spaced (public casters ban clients that reconnect in a storm), and the
// user reads why once.
TEST(StreamFaultsShortLinks, ACasterThatClosesAfterAFewBytesIsRetriedWithGrowingSpacing) {
  auto o = ServeRecording("pygpsdata-RTCM3.log");
  o.fault = {caster::FaultMode::CloseAfter, 40, ""};
  ComponentHarness h(o);
  h.Start();
  const std::string connecting = "Connecting to 127.0.0.1:" + std::to_string(h.Caster().Port());
  ASSERT_TRUE(Eventually([&] { return h.Reports().Arrivals(connecting).size() >= 4; }, 20s));
  EXPECT_LT(h.Stop(), 5s);

  // Spacing 0.1, 0.2, 0.4 s at this sampling scale; without it a rebuild follows every sample.
  const auto tries = h.Reports().Arrivals(connecting);
  for (std::size_t k = 1; k < 4; ++k) {
    const double gap = std::chrono::duration<double>(tries[k] - tries[k - 1]).count();
    EXPECT_GE(gap, 0.09 * static_cast<double>(1u << (k - 1)))
        << "between tries " << k << ", " << k + 1;
  }
  const auto warnings = h.Reports().Texts(MAPS::ReportKind::Warning);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "the caster closed RTCM3 after 40 bytes"),
            1);
  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
}

// NMEA text from a misconfigured mount point: still published unchanged, with one warning that
// says what the stream looks like.
TEST(StreamFaultsNotRtcm, AStreamWithoutRtcmFramesIsPublishedWithOneWarning) {
  std::string nmea;
  while (nmea.size() < 20'000) {
    nmea += "$GPGGA,120000.00,4851.50,N,00217.67,E,1,08,0.9,35.0,M,47.0,M,,*5B\r\n";
  }
  caster::CasterOptions o;
  o.mounts.push_back({"RTCM3", nmea});
  o.rate = 200'000;
  ComponentHarness h(o);
  h.Start();
  const auto warned = [](const maps_host::Report& r) {
    return r.kind == MAPS::ReportKind::Warning && r.text.starts_with("no RTCM 3 frame");
  };
  ASSERT_TRUE(h.Reports().WaitFor(warned, 20s));
  // Later samples do not repeat it.
  const std::size_t at_warning = h.Raw().Bytes().size();
  ASSERT_TRUE(h.Raw().WaitUntil(
      [&](const OutputLog& l) { return l.Bytes().size() >= at_warning + 100'000; }, 20s));
  EXPECT_LT(h.Stop(), 5s);
  std::vector<std::string> warnings;
  for (const auto& text : h.Reports().Texts(MAPS::ReportKind::Warning)) {
    if (text.starts_with("no RTCM 3 frame")) warnings.push_back(text);
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(" bytes from RTCM3 (it looks like NMEA text)"), std::string::npos)
      << warnings[0];
  EXPECT_TRUE(IsPrefixOfServed(h.Raw().Bytes(), h.ServedBytes())) << DescribeTraffic(h);
  EXPECT_EQ(h.Connections(), 1u);
}
