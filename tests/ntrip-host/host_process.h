#pragma once
// ntrip-host as a user runs it: the real program started as a child process with its output on
// pipes, collected by a reader thread each. Shared by the program's test files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pipe_reader.h"
#include "scratch_directory.h"

extern char** environ;

namespace host_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous bounds for a loaded machine; a clean stop takes well under a second.
constexpr auto kPromptExit = 8s;
constexpr auto kRunLimit = 60s;

// Where runs that log to files by default put them: never the real home of whoever runs the tests.
inline const fs::path& TestStateHome() {
  struct Home {
    fs::path path = fs::temp_directory_path() / ("ntrip-host-test-state-" + std::to_string(getpid()));
    ~Home() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  };
  static const Home home;
  return home.path;
}

// One run of ntrip-host: stdout and stderr collected by a reader thread each.
class HostProcess {
 public:
  // `environment`: NAME=VALUE entries that replace the test's own for the child.
  explicit HostProcess(std::vector<std::string> arguments,
                       std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), NTRIP_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto given = [&environment](const std::string& name) {
      return std::any_of(environment.begin(), environment.end(),
                         [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    };
    if (!given("XDG_STATE_HOME")) {
      environment.push_back("XDG_STATE_HOME=" + TestStateHome().string());
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('='));
      // A service's state directory or notification socket would take precedence over the test's.
      if (name != "STATE_DIRECTORY" && name != "NOTIFY_SOCKET" && !given(name)) {
        environment.push_back(text);
      }
    }
    // Built before the fork: the child only execs.
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      // The test's own sockets (a caster's listener) stay the test's: a caster restarted on its
      // port must be able to bind it again.
      syscall(SYS_close_range, 3u, ~0u, 0u);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_reader_ = std::jthread([this, fd = out[0]] { Collect(fd, stdout_); });
    err_reader_ = std::jthread([this, fd = err[0]] { Collect(fd, stderr_); });
  }

  ~HostProcess() {
    if (!exit_status_) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  void Signal(int signal_number) const { kill(pid_, signal_number); }

  // The exit status, or nothing if the process still runs after `limit`.
  std::optional<int> WaitForExit(Clock::duration limit) {
    if (exit_status_) return exit_status_;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd < 0) throw std::runtime_error("pidfd_open");
    pollfd wait_for{pidfd, POLLIN, 0};
    const int ready = poll(
        &wait_for, 1,
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count()));
    close(pidfd);
    if (ready != 1) return std::nullopt;
    int status = 0;
    waitpid(pid_, &status, 0);
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // The pipes end with the process: let the readers take the last bytes.
    out_reader_.join();
    err_reader_.join();
    return exit_status_;
  }

  // Waits until stderr holds `count` occurrences of `text`.
  bool WaitForStderr(const std::string& text, Clock::duration limit, int count = 1) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit, [&] { return Occurrences(stderr_, text) >= count; });
  }

  std::string Stdout() const {
    std::scoped_lock lock(mutex_);
    return stdout_;
  }
  std::string Stderr() const {
    std::scoped_lock lock(mutex_);
    return stderr_;
  }

  static int Occurrences(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
      ++count;
    }
    return count;
  }

 private:
  void Collect(int fd, std::string& into) {
    fixtures::ReadPipeToEnd(fd, [&](std::string_view bytes) {
      {
        std::scoped_lock lock(mutex_);
        into.append(bytes);
      }
      grew_.notify_all();
    });
  }

  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  mutable std::mutex mutex_;
  std::condition_variable grew_;
  std::string stdout_;
  std::string stderr_;
  std::jthread out_reader_;
  std::jthread err_reader_;
};

// Runs to the end; fails the test if the program outlives kRunLimit.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};
inline Finished RunToEnd(std::vector<std::string> arguments,
                        std::vector<std::string> environment = {}) {
  HostProcess host(std::move(arguments), std::move(environment));
  const std::optional<int> status = host.WaitForExit(kRunLimit);
  EXPECT_TRUE(status.has_value()) << "ntrip-host did not end; stderr:\n" << host.Stderr();
  return {status.value_or(-1), host.Stdout(), host.Stderr()};
}

using test_support::ScratchDirectory;

}  // namespace host_test
