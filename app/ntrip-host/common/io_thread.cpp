#include "common/io_thread.h"

#include <exception>

namespace ntrip_host {

bool OpenSerialPort(boost::asio::serial_port& port, const SerialDevice& device,
                    boost::system::error_code& ec) {
  port.open(SerialDevicePath(device.device), ec);
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

}  // namespace ntrip_host
