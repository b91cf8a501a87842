// Log files of components in one engine: each instance keeps to its own directory, survives the
// stop of another, and a directory it cannot use costs one report and nothing on any stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "component_fixture.h"
#include "scratch_directory.h"

using namespace component_test;
namespace fs = std::filesystem;

namespace {

using test_support::ScratchDirectory;

// Names of the files in `dir`, and all their lines.
struct Files {
  std::vector<std::string> names;
  std::string content;
};
Files Read(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    files.names.push_back(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    files.content.append(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++n;
  return n;
}

struct Client {
  maps_host::Instance* instance;
  OutputLog raw;
};

}  // namespace

TEST(ComponentLogging, TwoInstancesLogToTheirOwnDirectoriesAndOneStopsWhileTheOtherStreams) {
  caster::ReplayCaster live(ServeRecording("pygpsdata-RTCM3.log"));
  ScratchDirectory first_dir("first"), second_dir("second");
  host_test::ReportCollector reports;
  maps_host::Engine engine(
      maps_host::EngineOptions{.sampling_period_scale = 0.1, .report_sink = reports.Sink()});
  engine.LoadPackage(NTRIP_PACKAGE_PATH);
  Client clients[2];
  const fs::path* dirs[2] = {&first_dir.Path(), &second_dir.Path()};
  for (int i = 0; i < 2; ++i) {
    clients[i].instance =
        &engine.CreateInstance("NTRIP_Client", "NTRIP_Client_" + std::to_string(i + 1));
    maps_host::Instance& c = *clients[i].instance;
    c.SetProperty("ip", "127.0.0.1");
    c.SetProperty("port", std::to_string(live.Port()));
    c.SetProperty("mountpoint", "RTCM3");
    c.SetProperty("username", "user");
    c.SetProperty("password", "secret");
    c.SetProperty("log_destination", "Log");
    c.SetProperty("logging_path", dirs[i]->string());
    c.SetOutputConsumer("oRawRTCM", clients[i].raw.Consumer());
    c.PushSample("iGPSPos", {48.8584, 2.2945, 35.0, 0.02});
  }
  testing::internal::CaptureStderr();
  // Both start at once: their Births run side by side.
  clients[0].instance->Start();
  clients[1].instance->Start();
  for (Client& c : clients) {
    EXPECT_TRUE(c.raw.WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 2000; }));
  }

  clients[0].instance->Stop();
  engine.DestroyInstance(*clients[0].instance);
  const Files first_after_stop = Read(first_dir.Path());
  const std::size_t second_lines = Count(Read(second_dir.Path()).content, "\n");
  const std::size_t second_bytes = clients[1].raw.Bytes().size();
  // The other one goes on streaming, and logging into its own files.
  EXPECT_TRUE(clients[1].raw.WaitUntil(
      [&](const OutputLog& l) { return l.Bytes().size() >= second_bytes + 2000; }));
  EXPECT_TRUE(Eventually(
      [&] { return Count(Read(second_dir.Path()).content, "\n") >= second_lines + 10; }));
  clients[1].instance->Stop();
  const std::string err = testing::internal::GetCapturedStderr();

  const Files first = Read(first_dir.Path());
  const Files second = Read(second_dir.Path());
  ASSERT_EQ(first.names.size(), 1u);
  ASSERT_EQ(second.names.size(), 1u);
  EXPECT_EQ(first.names[0].rfind("NTRIP_Client_1", 0), 0u) << first.names[0];
  EXPECT_EQ(second.names[0].rfind("NTRIP_Client_2", 0), 0u) << second.names[0];
  for (const Files* files : {&first, &second}) {
    EXPECT_GE(Count(files->content, " - WriteRTCMBuffer Start"), 1u) << files->content;
    EXPECT_EQ(Count(files->content, " - End MAPS_NTRIP_Client::Banzai()"), 1u);
  }
  // Nothing of the first after its stop: the second's lines never went into its files.
  EXPECT_EQ(first.content, first_after_stop.content);
  EXPECT_EQ(err, "");
}

TEST(ComponentLogging, UnusableLogDirectoryIsOneReportAndNothingOnAnyStream) {
  ScratchDirectory scratch("unusable");
  const fs::path file = scratch.Path() / "a-file";
  std::ofstream(file) << "not a directory";
  for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
           {"R:", "no such directory"}, {"", "the path is empty"}, {file.string(), "not a directory"}}) {
    SCOPED_TRACE(path);
    ComponentOptions options;
    options.properties = {{"log_destination", "Log"}, {"logging_path", path}};
    std::vector<std::string> errors;
    bool streamed = false;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
      ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
      h.Start();
      streamed = h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 2000; });
      h.Stop();
      // The engine's own check of a directory property, when it is set, is not the component's.
      for (const std::string& text : h.Reports().Texts(MAPS::ReportKind::Error))
        if (!text.ends_with(" is not a directory.")) errors.push_back(text);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(streamed);
    EXPECT_EQ(errors, std::vector<std::string>{"log files cannot be written to \"" + path +
                                               "\": " + reason + "; the component logs nothing"});
  }
  // An empty path never meant the root.
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/", ignored))
    EXPECT_NE(entry.path().filename().string().rfind("NTRIP_Client_1", 0), 0u);
}
