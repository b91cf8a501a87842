// ntrip-host as a user runs it: the real program started as a child process with its output on
// pipes, against the real package and a replay caster on loopback.
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include <sstream>

#include <nlohmann/json.hpp>

#include "host_process.h"
#include "replay_caster.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using namespace host_test;

caster::CasterOptions LoopbackCaster(caster::FaultMode fault = caster::FaultMode::None) {
  caster::CasterOptions options;
  options.mounts.push_back(
      {"TEST", caster::ReadFileBytes(NTRIP_TEST_DATA_DIR "/pygpsdata-RTCM3.log")});
  options.user = "tester";
  options.password = "secret";
  options.fault.mode = fault;
  return options;
}

std::vector<std::string> PointedAt(const caster::ReplayCaster& caster) {
  return {"--set", "ip=127.0.0.1",    "--set", "port=" + std::to_string(caster.Port()),
          "--set", "mountpoint=TEST", "--set", "username=tester",
          "--set", "password=secret", "--set", "log_destination=Console"};
}

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

// ---- Option errors: exit status 2 and a clear message, before the component starts ----------

// Birth's first report; its absence shows the component never started.
constexpr const char* kStartedMark = "running NTRIP_Client";
// A position for runs whose caster (the default port on loopback) is never there.
constexpr const char* kRefusedPosition = "48.1,11.5,520,0.02";

TEST(RunnerOptionErrors, UnknownPropertyIsRefusedBeforeStart) {
  const Finished run = RunToEnd({"--set", "no_such_property=1", "--set", "ip=127.0.0.1"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("has no property \"no_such_property\""), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
}

TEST(RunnerOptionErrors, UnknownPropertyMessageDoesNotEchoTheValue) {
  const Finished run = RunToEnd({"--set", "pasword=hunter2-secret"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.find("hunter2-secret"), std::string::npos) << run.err;
}

TEST(RunnerOptionErrors, BadPropertyValueIsRefusedBeforeStart) {
  for (const char* assignment :
       {"decode_rtcm=maybe", "position_accuracy=fast", "log_destination=Printer"}) {
    SCOPED_TRACE(assignment);
    const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--set", assignment});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Bad value"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
  }
}

TEST(RunnerOptionErrors, BadSinkTextIsRefusedBeforeStart) {
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--raw-out", "tcp-listen://nope"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--raw-out"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
}

TEST(RunnerOptionErrors, BadPositionTextIsRefusedBeforeStart) {
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--position", "48.1,11.5"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--position"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
}

TEST(RunnerOptionErrors, ValuesThatWouldRewriteTheRequestAndUnusableRunsExitTwoNamingThem) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--set", "mountpoint=M HTTP/1.1\r\nX-Injected: yes"}, "mountpoint \"M HTTP/1.1\\x0D"},
      {{"--set", "mountpoint="}, "mountpoint \"\" is refused"},
      {{"--set", "ip=127.0.0.1 "}, "ip \"127.0.0.1 \" is refused"},
      {{"--set", "ip="}, "ip \"\" is refused"},
      {{"--set", "port=70000"}, "port \"70000\" is refused"},
      {{"--set", "port=+2101"}, "port \"+2101\" is refused"},
      {{"--set", "username=a:b"}, "username \"a:b\" is refused"},
      {{"--set", "tls_ca_file=/nonexistent/ca.pem"},
       "tls_ca_file \"/nonexistent/ca.pem\" is refused: it cannot be read: No such file"},
      {{"--set", "proxy=proxy.example"}, "proxy \"proxy.example\" is refused: give HOST:PORT"},
      {{"--position", "91,0,0,0"}, "latitude must be -90 to 90"},
      {{"--duration", "1"}, "no position source: give --position"}};
  for (const auto& [arguments, message] : cases) {
    SCOPED_TRACE(message);
    std::vector<std::string> line{"--set", "ip=127.0.0.1"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    if (arguments.front() == "--set") line.insert(line.end(), {"--position", kRefusedPosition});
    const Finished run = RunToEnd(line);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
  }
}

TEST(RunnerOptionErrors, MalformedCommandLinesExitWithUsageStatus) {
  const std::vector<std::vector<std::string>> lines{{"--no-such-option"},
                                                    {"--duration", "-1"},
                                                    {"--duration"},
                                                    {"--set", "=value"},
                                                    {"--sampling-scale", "0"},
                                                    {"--status=yes"},
                                                    {"--position", "1,2,3,4", "--nmea", "x.nmea"},
                                                    {"--status-json", "-", "--raw-out", "-"}};
  for (const auto& line : lines) {
    SCOPED_TRACE(line.front());
    const Finished run = RunToEnd(line);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("ntrip-host: "), std::string::npos);
  }
}

TEST(RunnerOptionErrors, MissingPackageIsARuntimeFailure) {
  const Finished run = RunToEnd({"--package", "/nonexistent/package.so", "--duration", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/nonexistent/package.so"), std::string::npos) << run.err;
}

// ---- What still works as before ---------------------------------------------------------------

TEST(RunnerProgram, DescribeStillPrintsTheModel) {
  const Finished run = RunToEnd({"--describe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("model NTRIP_Client version 1.0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("output oRawRTCM"), std::string::npos) << run.out;
}

TEST(RunnerProgram, HelpListsEveryOption) {
  const Finished run = RunToEnd({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option :
       {"--describe", "--package", "--set", "--position ", "--positions", "--nmea", "--raw-out",
        "--decoded-out", "--duration", "--status", "--quiet", "--demo", "--sampling-scale",
        "--version", "--verbose", "--sourcetable", "--json", "--nearest-mount", "--fallback",
        "--switch-after", "--follow-nearest", "--probe-period", "--follow-period"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  const Finished version = RunToEnd({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("ntrip-host ")) << version.out;
  EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << version.out;
}

// ---- Running and stopping -------------------------------------------------------------------

TEST(RunnerStop, DurationEndsTheRunByItselfWithStatusZero) {
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--set", "log_destination=Nothing",
                                 "--position", kRefusedPosition, "--duration", "2"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("stopping (duration reached)"), std::string::npos) << run.err;
}

TEST(RunnerStop, SigtermWhileTheClientWaitsForASilentCasterExitsZeroPromptly) {
  caster::ReplayCaster silent(LoopbackCaster(caster::FaultMode::NeverAnswer));
  HostProcess host(Joined(PointedAt(silent), {"--position", "48.1,11.5,520,0.02"}));
  ASSERT_TRUE(
      silent.WaitUntil([](const caster::ReplayCaster& c) { return c.ConnectionCount() >= 1; }, 20s))
      << host.Stderr();
  host.Signal(SIGTERM);
  const std::optional<int> status = host.WaitForExit(kPromptExit);
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM; stderr:\n" << host.Stderr();
  EXPECT_EQ(*status, 0) << host.Stderr();
  EXPECT_NE(host.Stderr().find("stopping (received SIGTERM)"), std::string::npos);
}

TEST(RunnerStop, SigintWhileTheClientRetriesExitsZeroPromptly) {
  HostProcess host({"--set", "ip=127.0.0.1", "--set", "log_destination=Nothing", "--position",
                    kRefusedPosition});
  ASSERT_TRUE(host.WaitForStderr(kStartedMark, 20s)) << host.Stderr();
  host.Signal(SIGINT);
  const std::optional<int> status = host.WaitForExit(kPromptExit);
  ASSERT_TRUE(status.has_value()) << "still running after SIGINT; stderr:\n" << host.Stderr();
  EXPECT_EQ(*status, 0) << host.Stderr();
}

TEST(RunnerStatus, StatusPrintsOneLineASecondOnStderr) {
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--set", "log_destination=Nothing",
                                 "--position", kRefusedPosition, "--status", "--duration", "3.5"});
  EXPECT_EQ(run.status, 0);
  EXPECT_GE(HostProcess::Occurrences(run.err, "ntrip-host: status "), 2) << run.err;
  EXPECT_NE(run.err.find("| raw 0 B in 0 elements"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" | reconnects 0 | age - | station - | sats - | bad NMEA - | "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("last correction none yet"), std::string::npos) << run.err;
  // Nothing listens on the default port: the refusal is the cause of the retries.
  EXPECT_NE(run.err.find("status retrying in "), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("status"), std::string::npos) << "status belongs on stderr";
}

TEST(RunnerStatus, QuietHidesInformationButKeepsWarnings) {
  ScratchDirectory scratch;
  // The default log directory cannot be made under a file.
  const fs::path blocked = scratch.Path() / "a-file";
  std::ofstream(blocked) << "not a directory";
  const Finished run =
      RunToEnd({"--set", "ip=127.0.0.1", "--position", kRefusedPosition, "--quiet", "--duration", "1"},
               {"XDG_STATE_HOME=" + blocked.string()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find("[Information]"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
  // The log directory warning, with its hint, stays.
  EXPECT_NE(run.err.find("warning: no log directory: cannot create " + blocked.string() +
                         "/ntrip-host: Not a directory"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--set logging_path=DIR"), std::string::npos) << run.err;
  // The component's complaint names the directory tried, not a default the user never set.
  EXPECT_EQ(run.err.find("\"R:\""), std::string::npos) << run.err;
}

TEST(RunnerLogFiles, DefaultLogFilesGoToThePrivateStateDirectoryWithNothingOnTheConsole) {
  ScratchDirectory scratch;
  const fs::path state = scratch.Path() / "state";
  const fs::path logs = state / "ntrip-host" / "logs";
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--position", kRefusedPosition,
                                 "--sampling-scale", "0.1", "--duration", "1.5"},
                                {"XDG_STATE_HOME=" + state.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(HostProcess::Occurrences(run.err, "ntrip-host: log files go to " + logs.string()), 1)
      << run.err;
  for (const fs::path& made : {state, state / "ntrip-host", logs})
    EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(logs)) files.push_back(entry.path().filename());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("NTRIP_Client_1", 0), 0u) << files[0];
  EXPECT_GT(fs::file_size(logs / files[0]), 0u);
  EXPECT_EQ(run.err.find("[Error]"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("LOGFILE"), std::string::npos) << run.err;
}

TEST(RunnerLogFiles, LoggingPathTheUserSetMustBeAWritableDirectory) {
  ScratchDirectory scratch;
  const std::string missing = (scratch.Path() / "missing").string();
  for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
           {missing, "no such directory"}, {"", "the path is empty"}}) {
    const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--set", "logging_path=" + path,
                                   "--position", kRefusedPosition, "--duration", "1"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("--set logging_path=" + path + ": " + reason), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find(kStartedMark), std::string::npos) << run.err;
  }
}

TEST(RunnerStatus, TraceLikeReportsShowOnlyWithVerbose) {
  const std::vector<std::string> run = {"--set", "ip=127.0.0.1", "--set", "log_destination=Nothing",
                                        "--position", kRefusedPosition, "--sampling-scale", "0.1",
                                        "--duration", "1.5"};
  const Finished plain = RunToEnd(run);
  EXPECT_EQ(plain.status, 0) << plain.err;
  // The refusal itself is an event and shows.
  EXPECT_NE(plain.err.find("[Warning] connection to 127.0.0.1:2100 refused"), std::string::npos)
      << plain.err;
  EXPECT_EQ(plain.err.find("Error with Boost Initialisation"), std::string::npos) << plain.err;
  EXPECT_EQ(plain.err.find("Minimum printing ON !"), std::string::npos) << plain.err;
  const Finished verbose = RunToEnd(Joined(run, {"--verbose"}));
  EXPECT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_NE(verbose.err.find("[Information] Error with Boost Initialisation"), std::string::npos)
      << verbose.err;
  EXPECT_NE(verbose.err.find("[Information] Minimum printing ON !"), std::string::npos)
      << verbose.err;
}

TEST(RunnerStatus, NoLogDirectoryWarningWhenLoggingToTheConsole) {
  const Finished run = RunToEnd({"--set", "ip=127.0.0.1", "--set", "log_destination=Console",
                                 "--position", kRefusedPosition, "--quiet", "--duration", "1"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find("is not a directory"), std::string::npos) << run.err;
}

// ---- With the finished component: real streams through the real outputs ----------------------

constexpr const char* kFixedPosition = "48.1,11.5,520,0.02";

TEST(RunnerWithComponent, RawOutputFileHoldsTheCastersStreamAfterSigterm) {
  caster::ReplayCaster live(LoopbackCaster());
  ScratchDirectory scratch;
  const fs::path raw = scratch.Path() / "raw.rtcm";
  HostProcess host(Joined(PointedAt(live), {"--position", "48.1,11.5,520,0.02", "--raw-out",
                                            raw.string(), "--status", "--quiet"}));
  ASSERT_TRUE(live.WaitUntil(
      [](const caster::ReplayCaster& c) { return c.Connection(0).served.size() >= 3000; }, 30s))
      << host.Stderr();
  host.Signal(SIGTERM);
  const std::optional<int> status = host.WaitForExit(kPromptExit);
  ASSERT_TRUE(status.has_value()) << host.Stderr();
  EXPECT_EQ(*status, 0) << host.Stderr();
  // What left the caster last may not have been read yet: the output is a prefix of the stream.
  const std::string written = caster::ReadFileBytes(raw.string());
  const std::string served = live.Connection(0).served;
  ASSERT_FALSE(written.empty()) << host.Stderr();
  EXPECT_EQ(written, served.substr(0, written.size()));
  EXPECT_NE(host.Stderr().find("types 1005:"), std::string::npos) << host.Stderr();
  // The decoder's view of the stream: every system of the MSM epoch.
  EXPECT_NE(host.Stderr().find("sats BDS:10 GAL:5 GLO:7 GPS:10"), std::string::npos)
      << host.Stderr();
}

TEST(RunnerWithComponent, PerSampleReportsShowOnlyWithVerbose) {
  caster::ReplayCaster live(LoopbackCaster());
  const std::vector<std::string> run =
      Joined(PointedAt(live),
             {"--position", kFixedPosition, "--sampling-scale", "0.05", "--duration", "2"});
  const Finished quiet = RunToEnd(run);
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_NE(quiet.err.find("Connecting to 127.0.0.1:"), std::string::npos) << quiet.err;
  EXPECT_EQ(quiet.err.find("_ntrip_client->State :"), std::string::npos) << quiet.err;
  EXPECT_EQ(quiet.err.find("Position Accuracy : "), std::string::npos) << quiet.err;
  const Finished verbose = RunToEnd(Joined(run, {"--verbose"}));
  EXPECT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_NE(verbose.err.find("_ntrip_client->State :6"), std::string::npos) << verbose.err;
  EXPECT_NE(verbose.err.find("Position Accuracy : 0.020000 m"), std::string::npos) << verbose.err;
}

TEST(RunnerWithComponent, StandardOutputCarriesTheServedBytesAlone) {
  caster::CasterOptions options = LoopbackCaster();
  options.max_bytes = 6000;
  caster::ReplayCaster live(options);
  // The default destination writes the logger's first line through the default writer.
  std::vector<std::string> line = PointedAt(live);
  line.back() = "log_destination=Log";
  ScratchDirectory scratch;
  HostProcess host(Joined(line, {"--set", "logging_path=" + scratch.Path().string(), "--position",
                                 "48.1,11.5,520,0.02", "--raw-out", "-"}));
  ASSERT_TRUE(
      live.WaitUntil([](const caster::ReplayCaster& c) { return c.Connection(0).closed; }, 30s))
      << host.Stderr();
  const std::string served = live.Connection(0).served;
  ASSERT_TRUE(live.WaitUntil(
      [&](const caster::ReplayCaster&) { return host.Stdout().size() >= served.size(); }, 10s));
  host.Signal(SIGINT);
  EXPECT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  // Connection after connection (the component reconnects once the caster closes), nothing else.
  std::string all;
  for (std::size_t i = 0; i < live.ConnectionCount(); ++i) all += live.Connection(i).served;
  const std::string out = host.Stdout();
  EXPECT_TRUE(out == all.substr(0, out.size())) << out.substr(0, 80);
  EXPECT_NE(host.Stderr().find("Initialization of Logger."), std::string::npos) << host.Stderr();
}

TEST(RunnerWithComponent, EachRefusalIsOneWarningEvenWhenQuiet) {
  caster::ReplayCaster live(LoopbackCaster());
  for (const auto& [property, warning] : std::vector<std::pair<std::string, std::string>>{
           {"password=wrong",
            "caster refused the user name or password for TEST (HTTP/1.1 401 Unauthorized)"},
           {"mountpoint=NOPE",
            "mount point NOPE is not on this caster; its mount points, nearest first: TEST"}}) {
    SCOPED_TRACE(property);
    const std::size_t before = live.ConnectionCount();
    HostProcess host(Joined(PointedAt(live),
                            {"--set", property, "--position", "48.1,11.5,520,0.02", "--quiet"}));
    // The first try and two retries were refused.
    ASSERT_TRUE(live.WaitUntil(
        [&](const caster::ReplayCaster& c) { return c.ConnectionCount() >= before + 3; }, 30s))
        << host.Stderr();
    host.Signal(SIGINT);
    EXPECT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
    EXPECT_EQ(HostProcess::Occurrences(host.Stderr(), warning), 1) << host.Stderr();
  }
}

TEST(RunnerWithComponent, StatusJsonAndEventLinesFollowADroppedConnection) {
  caster::CasterOptions options = LoopbackCaster(caster::FaultMode::CloseAfter);
  options.fault.after_bytes = 2000;
  caster::ReplayCaster dropping(std::move(options));
  ScratchDirectory scratch;
  const fs::path json = scratch.Path() / "status.jsonl";
  const Finished run = RunToEnd(
      Joined(PointedAt(dropping), {"--position", kFixedPosition, "--sampling-scale", "0.05",
                                   "--duration", "3", "--status-json", json.string()}));
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string target = "127.0.0.1:" + std::to_string(dropping.Port()) + "/TEST";
  EXPECT_NE(run.err.find("connected to " + target + " (NTRIP 2.0, chunked)"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("connection lost: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(", reconnects "), std::string::npos) << run.err;  // the stop line
  std::ifstream lines(json);
  bool reconnected = false;
  int objects = 0;
  for (std::string line; std::getline(lines, line); ++objects) {
    ASSERT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;
    if (line.find("\"state\":\"connected to " + target + "\"") != std::string::npos &&
        line.find("\"reconnects\":0") == std::string::npos) {
      reconnected = true;
    }
  }
  EXPECT_GE(objects, 1);
  EXPECT_TRUE(reconnected) << run.err;
}

// Bytes are no corrections: a caster sending garbage never shows a last correction.
TEST(RunnerWithComponent, GarbageIsNoLastCorrection) {
  caster::ReplayCaster garbage(LoopbackCaster(caster::FaultMode::Garbage));
  ScratchDirectory scratch;
  const fs::path json = scratch.Path() / "status.jsonl";
  const Finished run = RunToEnd(
      Joined(PointedAt(garbage), {"--set", "log_destination=Nothing", "--position", kFixedPosition,
                                  "--duration", "3", "--status-json", json.string()}));
  EXPECT_EQ(run.status, 0) << run.err;
  std::ifstream lines(json);
  bool carried = false;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json fields = nlohmann::json::parse(line);
    carried = carried || fields["raw_bytes"].get<std::uint64_t>() > 0;
    EXPECT_TRUE(fields["last_correction_s"].is_null()) << line;
  }
  EXPECT_TRUE(carried);
}

// A position less accurate than position_accuracy makes the component rebuild its client, with
// no loss in between, again and again: the stop line counts every connection's time.
TEST(RunnerWithComponent, TheStopLineCountsTheTimeOfEveryConnection) {
  caster::ReplayCaster caster(LoopbackCaster());
  const Finished run = RunToEnd(Joined(
      PointedAt(caster), {"--set", "log_destination=Nothing", "--set", "position_accuracy=0.01",
                          "--position", "48.1,11.5,520,0.02", "--sampling-scale", "0.05",
                          "--duration", "4"}));
  ASSERT_EQ(run.status, 0) << run.err;
  double run_seconds = 0, connected = 0, reconnects = 0;
  const std::size_t stop = run.err.find("stopped after ");
  ASSERT_NE(stop, std::string::npos) << run.err;
  ASSERT_EQ(std::sscanf(run.err.c_str() + stop, "stopped after %lf s: connected %lf s, reconnects %lf",
                        &run_seconds, &connected, &reconnects),
            3)
      << run.err;
  EXPECT_GE(reconnects, 1) << run.err;  // the rebuild happened
  EXPECT_LT(run_seconds - connected, 1.0) << run.err;
}

TEST(RunnerWithComponent, PositionsFromACsvFileReachTheCaster) {
  caster::ReplayCaster live(LoopbackCaster());
  ScratchDirectory scratch;
  const fs::path csv = scratch.Path() / "positions.csv";
  std::ofstream(csv) << "48.5,11.25,500,0.02\n";
  HostProcess host(Joined(PointedAt(live), {"--positions", csv.string(), "--quiet"}));
  ASSERT_TRUE(live.WaitUntil(
      [](const caster::ReplayCaster& c) { return !c.Connection(0).gga.empty(); }, 30s))
      << host.Stderr();
  EXPECT_NE(live.Connection(0).gga.front().find("4830.0"), std::string::npos)
      << live.Connection(0).gga.front();
  host.Signal(SIGINT);
  EXPECT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
}

// ---- The caster's sourcetable ----------------------------------------------------------------

// Around the test position (48.1, 11.5): a near stream that is not RTCM 3, one further, one far.
caster::CasterOptions MountsAround() {
  caster::CasterOptions options = LoopbackCaster();
  const std::string bytes = options.mounts[0].bytes;
  options.mounts = {{"FAR", bytes, 40.0, 0.0, "RTCM 3"},
                    {"NEAR_CMR", bytes, 48.2, 11.6, "CMR+"},
                    {"MID", bytes, 47.5, 11.0, "RTCM 3.2"}};
  return options;
}

constexpr const char* kTestPosition = "48.1,11.5,520,0.02";

TEST(RunnerSourcetable, RowsComeNearestFirstAndAsJsonLines) {
  caster::ReplayCaster live(MountsAround());
  const Finished text =
      RunToEnd(Joined(PointedAt(live), {"--sourcetable", "--position", kTestPosition}));
  EXPECT_EQ(text.status, 0) << text.err;
  const std::size_t near = text.out.find("\nNEAR_CMR "), mid = text.out.find("\nMID "),
                    far = text.out.find("\nFAR ");
  EXPECT_TRUE(near < mid && mid < far && far != std::string::npos) << text.out;
  EXPECT_NE(text.out.find("3 streams, 0 malformed rows skipped"), std::string::npos) << text.out;
  EXPECT_EQ(live.Connection(0).request.rfind("GET / HTTP/1.1\r\n", 0), 0u);

  const Finished json =
      RunToEnd(Joined(PointedAt(live), {"--sourcetable", "--json", "--position", kTestPosition}));
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(HostProcess::Occurrences(json.out, "\"type\":\"stream\""), 3) << json.out;
  const std::string first = json.out.substr(0, json.out.find('\n'));
  EXPECT_NE(first.find("\"mountpoint\":\"NEAR_CMR\""), std::string::npos) << first;
  EXPECT_EQ(first.find("\"distance_km\":null"), std::string::npos) << first;
}

TEST(RunnerSourcetable, AGzipCodedTableAndACasterOfNtrip1AloneListTheirStreams) {
  caster::CasterOptions gzip = MountsAround();
  gzip.coding = caster::StreamCoding::GzipMembers;
  caster::CasterOptions ntrip1 = MountsAround();
  ntrip1.fault.mode = caster::FaultMode::Ntrip1Only;
  for (const caster::CasterOptions& options : {gzip, ntrip1}) {
    caster::ReplayCaster live(options);
    const Finished text = RunToEnd(Joined(PointedAt(live), {"--sourcetable"}));
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("3 streams, 0 malformed rows skipped"), std::string::npos) << text.out;
  }
}

TEST(RunnerSourcetable, NearestMountConnectsToTheNearestRtcm3StreamOrRefusesToStart) {
  caster::ReplayCaster live(MountsAround());
  // Status lines as JSON on stdout: the choice is said on stderr, so every line of stdout parses.
  HostProcess host(Joined(PointedAt(live), {"--nearest-mount", "--position", kTestPosition,
                                            "--status-json", "-", "--status"}));
  ASSERT_TRUE(live.WaitUntil(
      [](const caster::ReplayCaster& c) {
        return c.Connection(1).request.rfind("GET /MID HTTP/1.1\r\n", 0) == 0;
      },
      30s))
      << host.Stdout() << host.Stderr();
  ASSERT_TRUE(host.WaitForStderr("ntrip-host: status ", kPromptExit)) << host.Stderr();
  host.Signal(SIGINT);
  EXPECT_EQ(host.WaitForExit(kPromptExit), std::optional<int>(0)) << host.Stderr();
  EXPECT_NE(host.Stderr().find("ntrip-host: nearest RTCM 3 mount point: MID, 76.5 km away"),
            std::string::npos)
      << host.Stderr();
  std::istringstream lines(host.Stdout());
  int objects = 0;
  for (std::string line; std::getline(lines, line); ++objects) {
    EXPECT_TRUE(nlohmann::json::accept(line)) << line;
  }
  EXPECT_GE(objects, 1) << host.Stdout();
  EXPECT_NE(host.Stderr().find("skipped NEAR_CMR (13.4 km): format \"CMR+\" is not RTCM 3"),
            std::string::npos)
      << host.Stderr();

  caster::CasterOptions none = MountsAround();
  none.mounts.erase(none.mounts.begin());
  none.mounts.pop_back();
  caster::ReplayCaster unusable(none);
  const Finished refused =
      RunToEnd(Joined(PointedAt(unusable), {"--nearest-mount", "--position", kTestPosition}));
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("lists no RTCM 3 stream"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find(kStartedMark), std::string::npos) << refused.err;
  EXPECT_EQ(unusable.ConnectionCount(), 1u);
}

TEST(RunnerWithComponent, ARawSinkThatBlocksDelaysNeitherTheDecodedSinkNorTheStop) {
  // Full speed: the FIFO nobody reads is full within a moment, then the raw sink's own queue.
  caster::CasterOptions options = LoopbackCaster();
  options.rate = 0;
  options.record_payload = false;
  caster::ReplayCaster live(options);
  ScratchDirectory scratch;
  const fs::path fifo = scratch.Path() / "raw.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path decoded = scratch.Path() / "decoded.txt";
  HostProcess host(Joined(PointedAt(live), {"--position", "48.1,11.5,520,0.02", "--raw-out",
                                            fifo.string(), "--decoded-out", decoded.string(),
                                            "--quiet"}));
  const auto decoded_size = [&] {
    std::error_code ignored;
    const auto size = fs::file_size(decoded, ignored);
    return ignored ? std::uintmax_t{0} : size;
  };
  // Far past the FIFO, the sink's 1 MiB bound and the loopback socket's buffers.
  ASSERT_TRUE(live.WaitUntil(
      [](const caster::ReplayCaster& c) {
        return c.ConnectionCount() > 0 && c.Connection(0).served_bytes >= (16u << 20);
      },
      30s))
      << host.Stderr();
  const std::uintmax_t decoded_when_raw_dropped = decoded_size();
  EXPECT_TRUE(live.WaitUntil(
      [&](const caster::ReplayCaster&) { return decoded_size() > decoded_when_raw_dropped; }, 10s))
      << host.Stderr();
  host.Signal(SIGTERM);
  const std::optional<int> status = host.WaitForExit(kPromptExit);
  ASSERT_TRUE(status.has_value()) << host.Stderr();
  EXPECT_EQ(*status, 0) << host.Stderr();
  EXPECT_NE(host.Stderr().find("bytes could not be written to FIFO " + fifo.string()),
            std::string::npos)
      << host.Stderr();
}

TEST(RunnerWithComponent, DemoRawOutputEqualsServedBytes) {
  ScratchDirectory scratch;
  const fs::path raw = scratch.Path() / "demo.rtcm";
  const Finished run = RunToEnd({"--demo", "--duration", "4", "--raw-out", raw.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  // The summaries hold standard output: every text line of the run goes to standard error.
  EXPECT_NE(run.err.find("raw output equals the bytes the caster served: yes"), std::string::npos)
      << run.out << run.err;
  EXPECT_EQ(run.out.find("demo:"), std::string::npos) << run.out;
  EXPECT_GT(fs::file_size(raw), 0u);
  EXPECT_GE(HostProcess::Occurrences(run.err, "ntrip-host: status "), 2) << run.err;
}

TEST(RunnerWithComponent, DemoRefusesARawOutputThatIsNotAFile) {
  const Finished run = RunToEnd({"--demo", "--raw-out", "-"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--raw-out"), std::string::npos) << run.err;
}

}  // namespace
