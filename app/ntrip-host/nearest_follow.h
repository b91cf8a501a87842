#pragma once
// --follow-nearest: as the rover moves, the caster's sourcetable is read again and the run moves
// to another RTCM 3 mount point once it is clearly nearer, so that a rover halfway between two
// bases does not go back and forth.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sourcetable_fetch.h"
#include "sourcetable_view.h"

namespace ntrip_host {

struct NearerMount {
  std::string mountpoint;
  std::string line;  // "switched to BASE_B, 12.3 km away (BASE_A is 48.1 km away)"
};

// The nearest RTCM 3 stream when it is at least 5 km and 20 % nearer than `current` (or when
// `current` is no longer listed with a position); none otherwise.
std::optional<NearerMount> ChooseNearerMount(const tarno::Sourcetable& table, const Position& here,
                                             const std::string& current);

// When to read the sourcetable again: at most once a `period`, and only once the rover has moved
// more than 1 km since the last choice.
class FollowSpacing {
 public:
  using Clock = std::chrono::steady_clock;
  FollowSpacing(Clock::duration period, Position chosen_at, Clock::time_point now)
      : period_(period), chosen_at_(chosen_at), last_read_(now) {}
  bool Due(const Position& here, Clock::time_point now) const;
  void Read(const Position& here, Clock::time_point now);  // a read began here: the new choice's place

 private:
  const Clock::duration period_;
  Position chosen_at_;
  Clock::time_point last_read_;
};

// Reads the sourcetable and chooses on a thread of its own, one read at a time. Under
// NtripVersion::Auto, a caster that answered the 1.0 request is asked in 1.0 from then on.
class NearestFollow {
 public:
  explicit NearestFollow(tarno::CasterAddress caster) : caster_(std::move(caster)) {}
  ~NearestFollow();  // waits for a read in progress (its waits are bounded)
  NearestFollow(const NearestFollow&) = delete;
  NearestFollow& operator=(const NearestFollow&) = delete;

  // False while the previous read runs.
  bool Start(const Position& here, std::string current);
  // A finished read's choice, once: a nearer mount point or nothing.
  std::optional<std::optional<NearerMount>> Take();

 private:
  std::mutex mutex_;
  tarno::CasterAddress caster_;  // under mutex_
  bool running_ = false;
  std::optional<std::optional<NearerMount>> outcome_;
  std::jthread thread_;
};

}  // namespace ntrip_host
