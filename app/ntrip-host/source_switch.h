#pragma once
// Which caster the run takes its corrections from: the preferred source and the fallbacks in
// order of preference. Decides when the current source has gone quiet for too long, and keeps
// what the status and the stop line say about the sources.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtcm/frame_scanner.h"

namespace ntrip_host {

struct Source {
  std::string host, port, mountpoint;
  std::string Text() const;  // "HOST:PORT/MOUNT", an IPv6 host in brackets
};

// "HOST:PORT/MOUNT" (an IPv6 host in brackets); throws std::invalid_argument saying what is wrong.
Source ParseSource(std::string_view text);

class SourceSwitch {
 public:
  using Clock = std::chrono::steady_clock;

  // `sources`: the preferred one first. `switch_after`: how long a source may give no RTCM 3
  // frame with a right CRC before the next one is taken. `longest_spacing`: the longest pause
  // between a caster's set-ups, at the host's clock speed.
  SourceSwitch(std::vector<Source> sources, Clock::duration switch_after, Clock::time_point start,
               Clock::duration longest_spacing = std::chrono::seconds(60));

  // The raw output's bytes of the current source (its consumer thread).
  void OnRaw(std::string_view bytes, Clock::time_point now);

  struct Due {
    std::size_t next = 0;
    std::string reason;  // "HOST:PORT/MOUNT gave no corrections for 10 s"
  };
  // The next source in order (wrapping) once the current one has been quiet for the switch time,
  // or at once when `broken` says why the current one failed fast (refused, closed, unreachable,
  // and its reconnect failed too). Once every source has failed, each is kept for the longest
  // set-up spacing instead: switching faster only asks casters that just failed again.
  std::optional<Due> SwitchDue(Clock::time_point now,
                               const std::optional<std::string>& broken = std::nullopt) const;
  // Every source was left for giving no corrections, and none has given any since.
  bool AllFailed() const;
  // True while the current source gives no frames: it has given none yet, or none lately.
  bool Failing(Clock::time_point now) const;
  // Called between the old source's stop and the new one's start, so no byte of the old one
  // counts for the new. `failed`: the old source is left because it gave no corrections.
  void SwitchTo(std::size_t index, std::string reason, Clock::time_point now, bool failed = false);

  std::size_t Current() const;
  std::size_t Count() const { return sources_.size(); }
  Source At(std::size_t index) const;
  // The nearest mount point of the same caster, before the switch to it.
  void SetMountpoint(std::size_t index, std::string mountpoint);

  struct Snapshot {
    std::string source;            // "HOST:PORT/MOUNT"
    std::size_t index = 1;         // from 1
    std::size_t count = 1;
    std::uint64_t switches = 0;
    // "source 2 of 3 (fallback since 12 s: H:P/M gave no corrections for 10 s)"; empty with a
    // single source.
    std::string text;
  };
  Snapshot Take(Clock::time_point now) const;
  // For the stop line: "switches 2 (source 1 30.2 s, source 2 12.0 s)"; empty with one source.
  std::string Summary(Clock::time_point now) const;

 private:
  std::vector<Source> sources_;  // under mutex_: a mount point may change (SetMountpoint)
  const Clock::duration switch_after_;
  const Clock::duration longest_spacing_;
  mutable std::mutex mutex_;
  std::size_t current_ = 0;
  Clock::time_point since_;
  std::optional<Clock::time_point> last_frame_;
  rtcm::FrameScanner scanner_;  // one per source: a frame never straddles two casters
  std::string reason_;
  std::uint64_t switches_ = 0;
  std::vector<Clock::duration> time_on_;  // per source, before the current stretch
  std::vector<bool> failed_;  // per source: left without corrections, none given since
};

}  // namespace ntrip_host
