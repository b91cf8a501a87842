#pragma once
// The service manager's end of systemd's notification protocol, for tests: a unix datagram
// socket whose messages a thread collects.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace host_test {

// The service manager's end: a unix datagram socket whose messages a thread collects.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) : path_(path.string()) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("notify socket");
    }
    reader_ = std::jthread([this](std::stop_token stop) {
      char buffer[4096];
      while (!stop.stop_requested()) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, 100) != 1) continue;
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) continue;
        {
          std::scoped_lock lock(mutex_);
          messages_.emplace_back(buffer, static_cast<std::size_t>(got));
          arrivals_.push_back(std::chrono::steady_clock::now());
        }
        arrived_.notify_all();
      }
    });
  }
  ~NotifySocket() {
    reader_.request_stop();
    reader_.join();
    close(fd_);
  }
  const std::string& Path() const { return path_; }

  // Waits until `count` messages hold `text`.
  bool WaitFor(const std::string& text, std::chrono::steady_clock::duration limit, int count = 1) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return Count(text) >= count; });
  }
  std::vector<std::string> Messages() const {
    std::scoped_lock lock(mutex_);
    return messages_;
  }
  // The longest time between two messages that hold `text`.
  std::chrono::steady_clock::duration LongestGap(const std::string& text) const {
    std::scoped_lock lock(mutex_);
    std::optional<std::chrono::steady_clock::time_point> last;
    std::chrono::steady_clock::duration longest{};
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      if (messages_[i].find(text) == std::string::npos) continue;
      if (last) longest = std::max(longest, arrivals_[i] - *last);
      last = arrivals_[i];
    }
    return longest;
  }

 private:
  int Count(const std::string& text) const {
    int count = 0;
    for (const std::string& message : messages_) count += message.find(text) != std::string::npos;
    return count;
  }

  std::string path_;
  int fd_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> messages_;
  std::vector<std::chrono::steady_clock::time_point> arrivals_;  // beside each message
  std::jthread reader_;
};

}  // namespace host_test
