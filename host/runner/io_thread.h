// Runs an io_context on the calling thread until it stops or runs out of work.
#pragma once

#include "runner/runner_log.h"

#include <boost/asio/io_context.hpp>

namespace runner {

// An exception out of a handler is logged and the loop goes on: nothing ends the process
// silently from a pieces' thread.
void RunGuarded(boost::asio::io_context& io, const LogFunction& log);

}  // namespace runner
