#pragma once
// Periods and bounds of a client, and of every exchange with a caster (the stream request and
// the sourcetable fetch alike). The defaults are the production values; tests shorten them.
#include <chrono>

#include "gga.h"

namespace tarno {

struct ClientTiming {
  std::chrono::nanoseconds gga_period = std::chrono::seconds(10);
  std::chrono::nanoseconds receive_period = std::chrono::seconds(1);  // pause while not connected
  std::chrono::nanoseconds reader_wait = std::chrono::seconds(2);     // queue readers
  std::chrono::nanoseconds connect_bound = std::chrono::seconds(10);  // TCP connect, handshake
  std::chrono::nanoseconds request_bound = std::chrono::seconds(10);  // any write
  std::chrono::nanoseconds header_bound = std::chrono::seconds(10);   // a whole answer head
  std::chrono::nanoseconds idle_read_bound = std::chrono::seconds(30);
  // A stream with no RTCM 3 frame in this time (and 64 KiB) is worth a warning.
  std::chrono::nanoseconds rtcm_check_window = std::chrono::seconds(10);
  UtcClock utc_clock = [] { return std::chrono::system_clock::now(); };
};

}  // namespace tarno
