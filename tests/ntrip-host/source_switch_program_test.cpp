// ntrip-host with fallback casters: the real program against replay casters on loopback, one of
// them killed and restarted while it runs.
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host_process.h"
#include "replay_caster.h"
#include "nmea_text.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace host_test;

constexpr const char* kPosition = "48.1,11.5,520,0.02";

caster::CasterOptions Serving(const std::string& recording, std::uint16_t port = 0) {
  caster::CasterOptions options;
  options.port = port;
  options.mounts.push_back({"TEST", caster::ReadFileBytes(NTRIP_TEST_DATA_DIR "/" + recording)});
  options.user = "tester";
  options.password = "secret";
  return options;
}

std::string Fallback(std::uint16_t port) {
  return "127.0.0.1:" + std::to_string(port) + "/TEST";
}

std::vector<std::string> HostArguments(std::uint16_t preferred, std::vector<std::string> more) {
  std::vector<std::string> arguments = {
      "--set", "ip=127.0.0.1", "--set", "port=" + std::to_string(preferred),
      "--set", "mountpoint=TEST", "--set", "username=tester", "--set", "password=secret",
      "--set", "log_destination=Nothing", "--position", kPosition, "--sampling-scale", "0.05"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

// Takes from `rest` what it shares with the start of `served`: the bytes of that connection that
// reached the output (a connection the host ended may have sent more than the host read).
std::size_t Consume(std::string_view& rest, const std::string& served) {
  std::size_t n = 0;
  while (n < rest.size() && n < served.size() && rest[n] == served[n]) ++n;
  rest.remove_prefix(n);
  return n;
}

std::string FileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The connections' starts, in order.
std::vector<Clock::time_point> Accepted(const caster::ReplayCaster& c) {
  std::vector<Clock::time_point> times;
  for (std::size_t i = 0; i < c.ConnectionCount(); ++i) times.push_back(c.Connection(i).accepted);
  return times;
}

// Each set-up after the first `unspaced` ones comes no sooner than the spacing its failures
// before it call for (1, 2, 4 ... 60 s at the host's clock, 0.05 in these runs), whichever of the
// run's instances made it.
void ExpectSpaced(const std::vector<Clock::time_point>& accepted, std::size_t unspaced,
                  const std::string& context) {
  for (std::size_t i = unspaced; i < accepted.size(); ++i) {
    const std::size_t failures = i - unspaced + 1;
    const auto spacing = std::chrono::duration<double>(
        0.05 * static_cast<double>(std::min<std::size_t>(std::size_t{1} << (failures - 1), 60)));
    EXPECT_GE(accepted[i] - accepted[i - 1], spacing - 5ms)
        << "set-up " << i + 1 << " after " << failures << " failures\n"
        << context;
  }
}

TEST(RunnerFallback, FallbackBytesFollowADeadPreferredCasterAndTheRawOutputStaysWhole) {
  auto preferred = std::make_unique<caster::ReplayCaster>(Serving("pygpsdata-RTCM3.log"));
  caster::ReplayCaster fallback(Serving("pygpsdata-RTCMMSM3.log"));
  ScratchDirectory scratch;
  const fs::path raw = scratch.Path() / "raw.bin";
  // The default switch time: a caster that refuses outright is left as soon as the first
  // reconnect fails too.
  HostProcess host(HostArguments(preferred->Port(), {"--fallback", Fallback(fallback.Port()),
                                           "--raw-out", raw.string(),
                                           "--status-json", (scratch.Path() / "s.jsonl").string()}));
  ASSERT_TRUE(preferred->WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 1500; }, 30s))
      << host.Stderr();
  const Clock::time_point died = Clock::now();
  preferred->Stop();
  // Bounds a hang: the switch time, one connection's bounds and a loaded machine's slack.
  ASSERT_TRUE(fallback.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 1500; }, 30s))
      << host.Stderr();
  const auto first_fallback_write = fallback.Connection(0).writes.front().when;
  // Within 2 s, and a loaded machine's slack; the switch time of 10 s is far beyond.
  EXPECT_LT(first_fallback_write - died, 5s) << host.Stderr();
  EXPECT_TRUE(host.WaitForStderr("warning: switched to source 2 of 2, " +
                                     Fallback(fallback.Port()) + ": " +
                                     Fallback(preferred->Port()) + " failed: ",
                                 1s))
      << host.Stderr();

  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  // Each connection's bytes once, in order: the preferred caster's (all of them, it closed its
  // end), then the fallback's until the stop.
  const std::string written = FileBytes(raw);
  std::string_view rest = written;
  ASSERT_EQ(preferred->ConnectionCount(), 1u);
  EXPECT_EQ(Consume(rest, preferred->Connection(0).served), preferred->Connection(0).served.size());
  EXPECT_GT(Consume(rest, fallback.Connection(0).served), 0u);
  EXPECT_TRUE(rest.empty()) << rest.size() << " bytes of no connection";
  EXPECT_NE(host.Stderr().find(", switches 1 (source 1 "), std::string::npos) << host.Stderr();
  const std::string status = FileBytes(scratch.Path() / "s.jsonl");
  EXPECT_NE(status.find("\"source\":\"" + Fallback(fallback.Port()) + "\",\"source_index\":2"),
            std::string::npos)
      << status;
}

// A preferred caster that refuses every request and a fallback that sends no RTCM 3: each is
// asked no sooner than its own spacing says, across the switches, and once both have failed
// one warning says so.
TEST(RunnerFallback, CastersThatFailKeepTheirSpacingAcrossSwitches) {
  caster::CasterOptions refusing = Serving("pygpsdata-RTCM3.log");
  refusing.fault = {caster::FaultMode::StatusLine, 0, "HTTP/1.1 401 Unauthorized"};
  caster::ReplayCaster preferred(refusing);
  caster::CasterOptions garbage = Serving("pygpsdata-RTCM3.log");
  garbage.fault = {caster::FaultMode::Garbage, 0, ""};
  caster::ReplayCaster fallback(garbage);
  HostProcess host(HostArguments(preferred.Port(), {"--fallback", Fallback(fallback.Port()),
                                                    "--switch-after", "1"}));
  ASSERT_TRUE(preferred.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.ConnectionCount() >= 7; }, 60s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  EXPECT_GE(fallback.ConnectionCount(), 1u);
  ExpectSpaced(Accepted(preferred), 1, host.Stderr());
  EXPECT_EQ(HostProcess::Occurrences(host.Stderr(),
                                     "warning: none of the 2 sources gives corrections"),
            1)
      << host.Stderr();
}

// A caster that closes each connection soon after a few hundred bytes: after three in a row its
// set-ups are spaced like failed ones, and one warning says why.
TEST(RunnerFallback, ACasterClosingEachConnectionEarlyIsSpacedAfterThreeAndWarnedOnce) {
  caster::CasterOptions closing = Serving("pygpsdata-RTCM3.log");
  closing.rate = 0;  // the bytes at once: the link ends well within the short-link time
  closing.fault = {caster::FaultMode::CloseAfter, 600, ""};
  caster::ReplayCaster preferred(closing);
  HostProcess host(HostArguments(preferred.Port(), {}));
  ASSERT_TRUE(preferred.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.ConnectionCount() >= 8; }, 60s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  ExpectSpaced(Accepted(preferred), 3, host.Stderr());
  const std::string warning = "[Warning] the caster closed TEST after ";
  EXPECT_EQ(HostProcess::Occurrences(host.Stderr(), warning), 1) << host.Stderr();
  EXPECT_NE(host.Stderr().find(" bytes, 3 times in a row"), std::string::npos) << host.Stderr();
}

TEST(RunnerFallback, ThePreferredCasterBackIsTakenBackAndTheRawOutputStaysWhole) {
  auto preferred = std::make_unique<caster::ReplayCaster>(Serving("pygpsdata-RTCM3.log"));
  const std::uint16_t port = preferred->Port();
  caster::ReplayCaster fallback(Serving("pygpsdata-RTCMMSM3.log"));
  ScratchDirectory scratch;
  const fs::path raw = scratch.Path() / "raw.bin";
  HostProcess host(HostArguments(port, {"--fallback", Fallback(fallback.Port()), "--switch-after",
                                        "2", "--probe-period", "1", "--raw-out", raw.string()}));
  ASSERT_TRUE(preferred->WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 1500; }, 30s))
      << host.Stderr();
  const std::string first = preferred->Connection(0).served;
  preferred->Stop();
  ASSERT_TRUE(fallback.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 1500; }, 30s))
      << host.Stderr();
  // Back on the same port, with another recording so that its bytes tell themselves apart.
  preferred.reset();
  preferred = std::make_unique<caster::ReplayCaster>(Serving("pygpsdata-MIXED-RTCM3.log", port));
  ASSERT_TRUE(host.WaitForStderr("switched to source 1 of 2, " + Fallback(port) + ": " +
                                     Fallback(port) + " serves again",
                                 40s))
      << host.Stderr();
  ASSERT_TRUE(preferred->WaitUntil(
      [](const caster::ReplayCaster& c) {
        return c.ConnectionCount() >= 2 &&
               c.Connection(c.ConnectionCount() - 1).served.size() >= 500;
      },
      30s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();

  // The probes' connections reach no output: the first connection whole, the fallback's and the
  // restarted caster's last one (the component's) as far as the host read them.
  const std::string written = FileBytes(raw);
  std::string_view rest = written;
  EXPECT_EQ(Consume(rest, first), first.size());
  EXPECT_GT(Consume(rest, fallback.Connection(0).served), 0u);
  EXPECT_EQ(fallback.ConnectionCount(), 1u);
  EXPECT_GT(Consume(rest, preferred->Connection(preferred->ConnectionCount() - 1).served), 0u);
  EXPECT_TRUE(rest.empty()) << rest.size() << " bytes of no connection";
  EXPECT_NE(host.Stderr().find(", switches 2 (source 1 "), std::string::npos) << host.Stderr();
}

// A preferred caster that stalls after each connection's first epochs, in live time, and a
// fallback that replays an older recording: the run goes back and forth between the two. Each
// connection's epochs are dated against the clock, and its satellites are its own.
TEST(RunnerFallback, AgeAndSatellitesStayTheSourcesOwnAcrossSwitchesBackAndForth) {
  caster::CasterOptions stalling = Serving("pygpsdata-MIXED-RTCM3.log");
  stalling.live_time = true;
  stalling.fault = {caster::FaultMode::StallAfter, 2500, ""};
  caster::ReplayCaster preferred(stalling);
  caster::ReplayCaster fallback(Serving("pygpsdata-RTCMMSM3.log"));
  ScratchDirectory scratch;
  const fs::path status = scratch.Path() / "s.jsonl";
  HostProcess host(HostArguments(preferred.Port(), {"--fallback", Fallback(fallback.Port()),
                                                    "--switch-after", "1", "--probe-period", "1",
                                                    "--status-json", status.string()}));
  // Five times on the fallback and back: ten new connections.
  ASSERT_TRUE(fallback.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.ConnectionCount() >= 5; }, 90s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();

  std::istringstream lines(FileBytes(status));
  std::map<std::size_t, nlohmann::json> first_sats;
  std::optional<double> fallback_offset;  // an old recording's age grows with the clock
  std::size_t reconnects = 0;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json fields = nlohmann::json::parse(line);
    reconnects = fields["reconnects"];
    const std::size_t index = fields["source_index"];
    if (fields["sats"].empty() || fields["age_s"].is_null()) continue;
    const double age = fields["age_s"];
    if (index == 1) {
      EXPECT_LT(std::abs(age), 5.0) << line;  // live time: the age of the latest epoch
    } else {
      const double offset = age - fields["elapsed_s"].get<double>();
      if (!fallback_offset) fallback_offset = offset;
      EXPECT_LT(std::abs(offset - *fallback_offset), 5.0) << line;
    }
    // Each recording carries the same satellites in every epoch.
    if (!first_sats.contains(index)) first_sats[index] = fields["sats"];
    EXPECT_EQ(fields["sats"], first_sats[index]) << line;
  }
  EXPECT_GE(reconnects, 8u);  // the last connection may come after the last status line
  EXPECT_EQ(first_sats.size(), 2u);
}

TEST(RunnerFallback, APreferredCasterOfNtrip1AloneThatComesUpLaterIsTakenBack) {
  std::uint16_t port = 0;
  {
    // A port where nothing listens when the run starts.
    caster::ReplayCaster gone(Serving("pygpsdata-RTCM3.log"));
    port = gone.Port();
  }
  caster::ReplayCaster fallback(Serving("pygpsdata-RTCMMSM3.log"));
  HostProcess host(HostArguments(port, {"--fallback", Fallback(fallback.Port()), "--switch-after",
                                        "2", "--probe-period", "1"}));
  ASSERT_TRUE(fallback.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 500; }, 30s))
      << host.Stderr();
  caster::CasterOptions ntrip1 = Serving("pygpsdata-MIXED-RTCM3.log", port);
  ntrip1.fault.mode = caster::FaultMode::Ntrip1Only;
  caster::ReplayCaster preferred(ntrip1);
  ASSERT_TRUE(host.WaitForStderr(
      "switched to source 1 of 2, " + Fallback(port) + ": " + Fallback(port) + " serves again",
      40s))
      << host.Stderr();
  ASSERT_TRUE(preferred.WaitUntil(
      [](const caster::ReplayCaster& c) {
        return c.Connection(c.ConnectionCount() - 1).served.size() >= 500;
      },
      30s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
}

TEST(RunnerFallback, AStopDuringSwitchesLeavesNoComponentRunning) {
  // Two casters that accept and never answer: the run switches between them again and again.
  caster::CasterOptions silent = Serving("pygpsdata-RTCM3.log");
  silent.fault.mode = caster::FaultMode::NeverAnswer;
  caster::ReplayCaster first(silent), second(silent);
  HostProcess host(HostArguments(first.Port(), {"--fallback", Fallback(second.Port()), "--switch-after",
                                      "0.5"}));
  ASSERT_TRUE(host.WaitForStderr("switched to source 1 of 2", 30s)) << host.Stderr();
  host.Signal(SIGTERM);
  const std::optional<int> status = host.WaitForExit(kPromptExit);
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM; stderr:\n" << host.Stderr();
  EXPECT_EQ(*status, 0) << host.Stderr();
  const std::string err = host.Stderr();
  const std::size_t stopping = err.find("stopping (received SIGTERM)");
  ASSERT_NE(stopping, std::string::npos) << err;
  // The set-up the stop interrupts may still say it connects; no instance may start after it.
  EXPECT_LE(HostProcess::Occurrences(err.substr(stopping), "Connecting to "), 1) << err;
  EXPECT_EQ(err.find("switched to", stopping), std::string::npos) << err;
}

// ---- Following the nearest base -------------------------------------------------------------

// Two bases 55.6 km apart on one meridian.
caster::CasterOptions TwoBases() {
  caster::CasterOptions options = Serving("pygpsdata-RTCM3.log");
  const std::string bytes = options.mounts[0].bytes;
  options.mounts = {{"BASE_A", bytes, 48.0, 11.0, "RTCM 3.2"}, {"BASE_B", bytes, 48.5, 11.0, "RTCM 3.2"}};
  return options;
}

// One GGA a second at these latitudes (longitude 11), the last one held.
fs::path RoverTrack(const fs::path& directory, const std::vector<double>& latitudes) {
  const fs::path path = directory / "track.nmea";
  std::ofstream file(path);
  int second = 0;
  for (const double latitude : latitudes) {
    char body[128];
    const double minutes = (latitude - 48.0) * 60.0;
    std::snprintf(body, sizeof body, "GPGGA,1200%02d.00,48%07.4f,N,01100.0000,E,4,12,0.8,520.0,M,47.0,M,1.0,0001",
                  second++, minutes);
    file << Nmea(body) << "\r\n";
  }
  return path;
}

std::vector<std::string> FollowArguments(const caster::ReplayCaster& caster, const fs::path& track) {
  return {"--set", "ip=127.0.0.1", "--set", "port=" + std::to_string(caster.Port()),
          "--set", "username=tester", "--set", "password=secret",
          "--set", "log_destination=Nothing", "--set", "position_accuracy=1000",
          "--nmea", track.string(), "--nearest-mount", "--follow-nearest",
          "--follow-period", "1", "--sampling-scale", "0.05"};
}

std::size_t SourcetableReads(const caster::ReplayCaster& caster) {
  std::size_t reads = 0;
  for (std::size_t i = 0; i < caster.ConnectionCount(); ++i) {
    reads += caster.Connection(i).request.starts_with("GET / ") ? 1 : 0;
  }
  return reads;
}

TEST(RunnerFollowNearest, ARoverDrivingFromOneBaseToTheOtherSwitchesOnce) {
  caster::ReplayCaster bases(TwoBases());
  ScratchDirectory scratch;
  const fs::path track = RoverTrack(
      scratch.Path(), {48.02, 48.02, 48.06, 48.10, 48.14, 48.18, 48.22, 48.26, 48.30, 48.34, 48.38,
                       48.42, 48.46, 48.48});
  HostProcess host(FollowArguments(bases, track));
  ASSERT_TRUE(host.WaitForStderr("switched to BASE_B, ", 40s)) << host.Stderr();
  ASSERT_TRUE(bases.WaitUntil(
      [](const caster::ReplayCaster& c) {
        for (std::size_t i = 0; i < c.ConnectionCount(); ++i) {
          if (c.Connection(i).request.starts_with("GET /BASE_B ") && !c.Connection(i).served.empty())
            return true;
        }
        return false;
      },
      30s))
      << host.Stderr();
  // The rover goes on towards BASE_B and stays there: the table is read again, no switch comes.
  const std::size_t reads = SourcetableReads(bases);
  ASSERT_TRUE(bases.WaitUntil(
      [&](const caster::ReplayCaster& c) { return SourcetableReads(c) >= reads + 1; }, 30s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  EXPECT_EQ(HostProcess::Occurrences(host.Stderr(), "switched to "), 1) << host.Stderr();
  EXPECT_NE(host.Stderr().find(", switches 1"), std::string::npos) << host.Stderr();
  EXPECT_NE(host.Stdout().find("nearest RTCM 3 mount point: BASE_A"), std::string::npos);
}

TEST(RunnerFollowNearest, ARoverGoingBackAndForthHalfwayNeverSwitches) {
  caster::ReplayCaster bases(TwoBases());
  ScratchDirectory scratch;
  // 4.4 km from one side of the middle to the other: BASE_B is then nearer, but not by 5 km.
  std::vector<double> latitudes;
  for (int i = 0; i < 12; ++i) latitudes.push_back(i % 2 == 0 ? 48.23 : 48.27);
  HostProcess host(FollowArguments(bases, RoverTrack(scratch.Path(), latitudes)));
  // The table is read again and again as the rover moves; no read makes it switch.
  ASSERT_TRUE(bases.WaitUntil(
      [](const caster::ReplayCaster& c) { return SourcetableReads(c) >= 4; }, 40s))
      << host.Stderr();
  host.Signal(SIGTERM);
  ASSERT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  EXPECT_EQ(host.Stderr().find("switched to "), std::string::npos) << host.Stderr();
}

}  // namespace
