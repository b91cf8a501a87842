#include "runner/io_thread.h"

#include <exception>

namespace runner {

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

}  // namespace runner
