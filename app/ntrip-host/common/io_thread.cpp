#include "common/io_thread.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

namespace ntrip_host {

bool OpenSerialPort(boost::asio::serial_port& port, const SerialDevice& device,
                    boost::system::error_code& ec) {
  port.open(device.device, ec);
  if (!ec) port.set_option(boost::asio::serial_port_base::baud_rate(device.baud), ec);
  if (ec) {
    boost::system::error_code ignored;
    port.close(ignored);
  }
  return !ec;
}

void RunGuarded(boost::asio::io_context& io, const LogFunction& log) {
  while (true) {
    try {
      io.run();
      return;
    } catch (const std::exception& error) {
      LogTo(log, LogLevel::kWarning,
            std::string("unexpected error in I/O thread: ") + error.what());
    } catch (...) {
      LogTo(log, LogLevel::kWarning, "unexpected error in I/O thread");
    }
  }
}

namespace {

// Hands `bytes` to `move` (a write or a send) until it is all taken or the descriptor is full.
template <typename Move>
std::size_t MoveWithoutWaiting(std::string_view bytes, int& error, Move move) {
  error = 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = move(bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) error = errno;
      break;
    }
  }
  return done;
}

}  // namespace

std::size_t WriteWithoutWaiting(int fd, std::string_view bytes, int& error) {
  error = 0;
  if (fd < 0) return 0;
  return MoveWithoutWaiting(
      bytes, error, [fd](const char* data, std::size_t size) { return ::write(fd, data, size); });
}

std::size_t SendWithoutWaiting(int fd, std::string_view bytes, int& error) {
  return MoveWithoutWaiting(bytes, error, [fd](const char* data, std::size_t size) {
    return ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  });
}

}  // namespace ntrip_host
