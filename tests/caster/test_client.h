// A plain blocking POSIX client for the caster tests: every wait has a deadline.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

namespace caster_test {

using namespace std::chrono_literals;

class TestClient {
 public:
  TestClient(const std::string& address, std::uint16_t port) {
    const bool v6 = address.find(':') != std::string::npos;
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    int rc = -1;
    if (v6) {
      sockaddr_in6 sa{};
      sa.sin6_family = AF_INET6;
      sa.sin6_port = htons(port);
      ::inet_pton(AF_INET6, address.c_str(), &sa.sin6_addr);
      rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } else {
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(port);
      ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
      rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    if (rc != 0) {
      ::close(fd_);
      throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
  }
  explicit TestClient(std::uint16_t port) : TestClient("127.0.0.1", port) {}
  ~TestClient() { Close(); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("send failed");
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads until pred(Data()) holds, the peer closes or resets, or the deadline passes.
  bool ReadUntil(const std::function<bool(const std::string&)>& pred,
                 std::chrono::milliseconds deadline = 5s) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!pred(data_)) {
      if (eof_ || error_ != 0) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[65536];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        data_.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        eof_ = true;
      } else if (errno != EINTR) {
        error_ = errno;
      }
    }
    return true;
  }
  bool ReadContaining(const std::string& text, std::chrono::milliseconds deadline = 5s) {
    return ReadUntil([&](const std::string& d) { return d.find(text) != std::string::npos; },
                     deadline);
  }
  bool ReadAtLeast(std::size_t n, std::chrono::milliseconds deadline = 5s) {
    return ReadUntil([&](const std::string& d) { return d.size() >= n; }, deadline);
  }
  // Reads until the peer closes (true) or the deadline passes (false).
  bool ReadToEnd(std::chrono::milliseconds deadline = 5s) {
    ReadUntil([](const std::string&) { return false; }, deadline);
    return eof_ || error_ != 0;
  }

  const std::string& Data() const { return data_; }
  bool Eof() const { return eof_; }
  int Error() const { return error_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::string data_;
  bool eof_ = false;
  int error_ = 0;
};

// The body after the header block ("\r\n\r\n"); empty when there is none.
inline std::string BodyOf(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// Decodes HTTP chunked framing; `complete` tells whether the last-chunk was seen.
inline std::string DecodeChunked(const std::string& body, bool* complete, bool* malformed) {
  std::string out;
  std::size_t pos = 0;
  *complete = false;
  *malformed = false;
  for (;;) {
    const std::size_t line_end = body.find("\r\n", pos);
    if (line_end == std::string::npos) return out;
    std::size_t size = 0;
    try {
      size = std::stoul(body.substr(pos, line_end - pos), nullptr, 16);
    } catch (...) {
      *malformed = true;
      return out;
    }
    if (size == 0) {
      *complete = body.compare(line_end + 2, 2, "\r\n") == 0;
      return out;
    }
    if (line_end + 2 + size + 2 > body.size()) return out;  // a partial chunk
    if (body.compare(line_end + 2 + size, 2, "\r\n") != 0) {
      *malformed = true;
      return out;
    }
    out.append(body, line_end + 2, size);
    pos = line_end + 2 + size + 2;
  }
}

// The stream `bytes` looped until `size` bytes.
inline std::string Looped(const std::string& bytes, std::size_t size) {
  std::string out;
  while (out.size() < size) out.append(bytes, 0, std::min(bytes.size(), size - out.size()));
  return out;
}

}  // namespace caster_test
