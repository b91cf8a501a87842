// The ntrip-replay-caster program: announces its port, serves, and stops cleanly on a signal.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "caster_fixture.h"
#include "scratch_directory.h"
#include "test_client.h"

extern char** environ;

namespace caster_test {
namespace {

// The program as a child process with its standard output on a pipe.
class CasterProcess {
 public:
  explicit CasterProcess(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    args.insert(args.begin(), CASTER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, CASTER_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
    if (rc != 0) throw std::runtime_error("spawn failed");
  }
  ~CasterProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }

  // Reads standard output until it holds `text` or the deadline passes.
  bool ReadOutputContaining(const std::string& text, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // Sends `signal` and waits for the exit; returns the exit status or -1 after the deadline.
  int StopWith(int signal, std::chrono::milliseconds deadline) {
    ::kill(pid_, signal);
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      pollfd p{out_, POLLIN, 0};
      ::poll(&p, 1, 20);  // wakes on output or the end of the pipe
      char buffer[512];
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return -1;
  }

  std::uint16_t Port() const {
    const std::size_t colon = output_.find('\n') == std::string::npos
                                  ? std::string::npos
                                  : output_.rfind(':', output_.find('\n'));
    return colon == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::stoi(output_.substr(colon + 1)));
  }
  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

TEST(CasterProgram, AnnouncesItsPortServesAndStopsOnSigterm) {
  CasterProcess program({"--listen", "127.0.0.1:0", "--mount",
                         "RTCM3=" + DataFile("pygpsdata-RTCM3.log"), "--rate", "0",
                         "--original-time"});
  ASSERT_TRUE(program.ReadOutputContaining("\n", 10s));
  ASSERT_TRUE(program.Output().starts_with("listening on 127.0.0.1:")) << program.Output();
  TestClient client(program.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadAtLeast(14 + 5000));
  EXPECT_EQ(client.Data().substr(14, 5000), Looped(Recording(), 5000));
  EXPECT_EQ(program.StopWith(SIGTERM, 10s), 0);
  EXPECT_TRUE(client.ReadToEnd());
}

TEST(CasterProgram, StopsOnSigintWithAnIdleClientOverIpv6) {
  CasterProcess program({"--listen", "[::1]:0", "--mount", "A=" + DataFile("pygpsdata-1230.bin")});
  if (!program.ReadOutputContaining("\n", 10s)) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(program.Output().starts_with("listening on [::1]:")) << program.Output();
  TestClient idle("::1", program.Port());
  EXPECT_EQ(program.StopWith(SIGINT, 10s), 0);
}

TEST(CasterProgram, AnswersHelpAndVersionOnStandardOutput) {
  CasterProcess help({"--help"});
  EXPECT_TRUE(help.ReadOutputContaining("SIGTERM stops it.\n", 10s));
  EXPECT_EQ(help.StopWith(0, 10s), 0);
  EXPECT_TRUE(help.Output().starts_with("usage: ntrip-replay-caster")) << help.Output();
  CasterProcess version({"--version"});
  EXPECT_TRUE(version.ReadOutputContaining("\n", 10s));
  EXPECT_EQ(version.StopWith(0, 10s), 0);
  EXPECT_TRUE(version.Output().starts_with("ntrip-replay-caster ")) << version.Output();
  EXPECT_EQ(version.Output().find('\n'), version.Output().size() - 1) << version.Output();
}

TEST(CasterProgram, RefusesABadCommandLineAndAMountThatIsNoFile) {
  CasterProcess program({"--fault", "explode"});
  EXPECT_EQ(program.StopWith(0, 10s), 2);
  // Opening a FIFO would wait for a writer, deaf to the signals the program has taken over.
  test_support::ScratchDirectory scratch("caster");
  const std::string fifo = (scratch.Path() / "mount").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  CasterProcess fifo_mount({"--listen", "127.0.0.1:0", "--mount", "X=" + fifo});
  EXPECT_EQ(fifo_mount.StopWith(0, 10s), 1);
}

}  // namespace
}  // namespace caster_test
