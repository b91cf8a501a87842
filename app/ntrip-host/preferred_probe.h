#pragma once
// While the run takes its corrections from a fallback, asks the preferred caster now and then
// whether it serves again: the stream request on a connection of its own, closed as soon as the
// caster has answered and sent one RTCM 3 frame with a right CRC, or refused.
#include <chrono>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "stream_opener.h"

namespace ntrip_host {

struct ProbeOutcome {
  bool serves = false;  // answered, and one frame came
  std::string why;      // when not: the refusal or what was missing
  bool ntrip1 = false;  // the NTRIP 1.0 request was the one answered
};

// One probe, all of it before `deadline`; a `stop` ends it at once.
ProbeOutcome ProbeStream(const tarno::CasterAddress& caster, const std::string& mountpoint,
                         std::stop_token stop, tarno::CasterStream::Clock::time_point deadline);

// Runs one probe at a time on a thread of its own, so the run's main loop never waits for it.
// Under NtripVersion::Auto, a caster that answered the 1.0 request is asked in 1.0 from then on,
// as the component keeps its choice for a caster.
class PreferredProbe {
 public:
  PreferredProbe(tarno::CasterAddress caster, std::string mountpoint,
                 std::chrono::nanoseconds bound = std::chrono::seconds(10));
  ~PreferredProbe();  // ends a probe in progress at once and joins its thread
  PreferredProbe(const PreferredProbe&) = delete;
  PreferredProbe& operator=(const PreferredProbe&) = delete;

  // Starts a probe whose request carries `gga` (a sentence with its CR LF, or empty); false
  // while the previous one runs.
  bool Start(std::string gga);
  bool Running() const;
  // The finished probe's outcome, once.
  std::optional<ProbeOutcome> Take();

 private:
  const std::string mountpoint_;
  const std::chrono::nanoseconds bound_;
  mutable std::mutex mutex_;
  tarno::CasterAddress caster_;  // under mutex_: its version follows what the caster answered
  bool running_ = false;
  std::optional<ProbeOutcome> outcome_;
  std::jthread thread_;  // its stop token ends a probe in progress
};

// When the next probe is due: one period after the switch to a fallback, and after each failed
// probe twice as long as before, at most max(2 periods, 60 s), as failed set-ups are spaced.
class ProbeSpacing {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ProbeSpacing(Clock::duration period) : period_(period) {}
  void Restart(Clock::time_point now);  // on a switch away from the preferred source
  void Failed(Clock::time_point now);
  bool Due(Clock::time_point now) const { return now >= next_; }

 private:
  const Clock::duration period_;
  Clock::duration spacing_{};
  Clock::time_point next_{};
};

}  // namespace ntrip_host
