#include "common/io_thread.h"

#include <unistd.h>

#include <cerrno>
#include <exception>

namespace runner {

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

std::size_t WriteWithoutWaiting(int fd, std::string_view bytes, int& error) {
  error = 0;
  std::size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
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

}  // namespace runner
