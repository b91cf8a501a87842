#include "log.h"

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using tarno::Importance;

namespace {

// Installs a writer for the test's duration and restores the default afterwards.
class WriterScope {
 public:
  explicit WriterScope(tarno::LogWriter writer) { tarno::ActiveLogWriter = std::move(writer); }
  ~WriterScope() {
    tarno::ActiveLogWriter = tarno::WriteLogToStdout;
    tarno::SetHostReportSink({});
  }
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> LogFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == ".log") files.push_back(e.path());
  return files;
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ntrip-log-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes through the real glog file writer and returns the file's content.
  std::string WriteAndRead(const std::vector<std::pair<std::string, int>>& lines) {
    {
      tarno::Log log("unit_instance", false, dir_.string());
      WriterScope scope(tarno::WriteLogToFile);
      for (const auto& [text, importance] : lines) tarno::WriteLog(text.c_str(), importance);
    }
    const auto files = LogFiles(dir_);
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? std::string() : ReadAll(files.front());
  }

  fs::path dir_;
};

}  // namespace

TEST_F(LogFileTest, FileLineCarriesLetterTimestampThreadAndCallerLocation) {
  const std::string content = WriteAndRead({{"hello file", 0}});
  // The body names the caller (this file and function), after glog's own prefix.
  EXPECT_NE(content.find("log_test.cpp:"), std::string::npos) << content;
  EXPECT_NE(content.find(" - hello file"), std::string::npos) << content;
  const auto body = content.find(" I20");
  ASSERT_NE(body, std::string::npos) << content;
  // I + "YYYYmmdd HH:MM:SS.uuuuuu" + space + thread number
  const std::string stamp = content.substr(body + 2, 24);
  EXPECT_EQ(stamp[8], ' ');
  EXPECT_EQ(stamp[17], '.');
  EXPECT_EQ(content.find_first_not_of("0123456789", body + 2 + 18), body + 2 + 24) << content;
}

TEST_F(LogFileTest, DebugIsDroppedWarningAndErrorKeepTheirLetters) {
  const std::string content =
      WriteAndRead({{"debug line", 1}, {"warn line", 2}, {"error line", 3}});
  EXPECT_EQ(content.find("debug line"), std::string::npos);
  EXPECT_NE(content.find(" W20"), std::string::npos) << content;
  EXPECT_NE(content.find(" - warn line"), std::string::npos);
  EXPECT_NE(content.find(" E20"), std::string::npos);
  EXPECT_NE(content.find(" - error line"), std::string::npos);
}

TEST_F(LogFileTest, UnknownImportanceIsWrittenAsAnErrorWithTheComplaint) {
  const std::string content = WriteAndRead({{"odd line", 7}});
  EXPECT_NE(content.find("\nE"), std::string::npos) << content;  // glog's error severity
  EXPECT_NE(content.find(" I20"), std::string::npos) << content;
  EXPECT_NE(content.find(" - (Error while looking importance level: 7 ) odd line"),
            std::string::npos)
      << content;
}

TEST_F(LogFileTest, FilesRotateAtFiftyMegabytes) {
  FLAGS_max_log_size = 1800;  // glog's default
  tarno::Log log("unit_instance", false, dir_.string());
  EXPECT_EQ(FLAGS_max_log_size, 50u);
}

TEST_F(LogFileTest, NoWarningOrErrorFilesLeakOutsideTheChosenDirectory) {
  WriteAndRead({{"err", 3}});
  EXPECT_EQ(LogFiles(dir_).size(), 1u);
}

TEST(LogTimestamp, MicrosecondsAlwaysHaveSixDigits) {
  const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)) +
                    std::chrono::microseconds(4211);
  const std::string text = tarno::LogTimestampAt(when);
  ASSERT_EQ(text.size(), 24u) << text;
  EXPECT_EQ(text.substr(17), ".004211");
  EXPECT_EQ(tarno::LogTimestamp().size(), 24u);
}

TEST(SourceBaseName, CutsAfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(tarno::SourceBaseName("plain.cpp"), "plain.cpp");
  EXPECT_EQ(tarno::SourceBaseName("a/b/c.cpp"), "c.cpp");
  EXPECT_EQ(tarno::SourceBaseName("C:\\x\\y.cpp"), "y.cpp");
  EXPECT_EQ(tarno::SourceBaseName("a\\b/c\\d.cpp"), "d.cpp");
  EXPECT_EQ(tarno::SourceBaseName("a/b\\c/d.cpp"), "d.cpp");
  EXPECT_EQ(tarno::SourceBaseName(""), "");
  EXPECT_EQ(tarno::SourceBaseName("dir/"), "");
}

TEST(HostWriter, RoutesByImportanceAndPrefixesOnlyDebugAndUnknown) {
  std::vector<std::pair<tarno::HostReportKind, std::string>> got;
  WriterScope scope(tarno::WriteLogToHost);
  tarno::SetHostReportSink(
      [&](tarno::HostReportKind kind, const std::string& text) { got.emplace_back(kind, text); });
  tarno::WriteLog("info", Importance::Info);
  tarno::WriteLog("debug", Importance::Debug);
  tarno::WriteLog("warn", Importance::Warning);
  tarno::WriteLog("err", Importance::Error);
  tarno::WriteLog("odd", 9);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], std::make_pair(tarno::HostReportKind::Information, std::string("info")));
  EXPECT_EQ(got[1].first, tarno::HostReportKind::Information);
  EXPECT_EQ(got[1].second.rfind("log_test.cpp:", 0), 0u) << got[1].second;
  EXPECT_NE(got[1].second.find(" - debug"), std::string::npos);
  EXPECT_EQ(got[2], std::make_pair(tarno::HostReportKind::Warning, std::string("warn")));
  EXPECT_EQ(got[3], std::make_pair(tarno::HostReportKind::Error, std::string("err")));
  EXPECT_EQ(got[4].first, tarno::HostReportKind::Error);
  EXPECT_NE(got[4].second.find(" - (Error while looking importance level: 9 ) odd"),
            std::string::npos);
}

TEST(NowhereWriter, WritesNothingAnywhere) {
  int reports = 0;
  WriterScope scope(tarno::WriteLogNowhere);
  tarno::SetHostReportSink([&](tarno::HostReportKind, const std::string&) { ++reports; });
  testing::internal::CaptureStdout();
  tarno::WriteLog("silent", Importance::Error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(reports, 0);
}

TEST(DefaultWriter, PrintsTheBareMessageErrorsOnStandardError) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  tarno::WriteLog("to stdout", Importance::Info);
  tarno::WriteLog("to stderr", Importance::Error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST(WriterChoice, FollowsTheDestinationIndex) {
  EXPECT_TRUE(tarno::WriterForDestination(0));
  EXPECT_TRUE(tarno::WriterForDestination(1));
  EXPECT_TRUE(tarno::WriterForDestination(2));
  EXPECT_FALSE(tarno::WriterForDestination(3));
  EXPECT_FALSE(tarno::WriterForDestination(-1));
}
