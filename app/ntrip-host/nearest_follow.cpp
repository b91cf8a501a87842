#include "nearest_follow.h"

#include "platform.h"

#include <cstdio>
#include <utility>

namespace ntrip_host {

namespace {

constexpr double kMovedKm = 1.0;
constexpr double kNearerKm = 5.0;
constexpr double kNearerShare = 0.8;  // at most 80 % of the current distance: 20 % nearer
// A read of the table while the rover moves must not hold a stop long.
constexpr std::chrono::seconds kReadBound{3};

std::string Km(double km) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", km);
  return text;
}

}  // namespace

std::optional<NearerMount> ChooseNearerMount(const tarno::Sourcetable& table, const Position& here,
                                             const std::string& current) {
  const NearestMount nearest = ChooseNearestMount(table, here);
  if (!nearest.chosen || nearest.chosen->distance_km < 0) return std::nullopt;
  const tarno::RankedStream& best = *nearest.chosen;
  if (best.stream.mountpoint == current) return std::nullopt;
  double current_km = -1;
  for (const tarno::SourcetableStream& stream : table.streams) {
    if (stream.mountpoint == current && stream.located) {
      current_km = tarno::DistanceKm(here.latitude, here.longitude, stream.latitude,
                                     stream.longitude);
    }
  }
  std::string line = "switched to " + tarno::PrintableStatusLine(best.stream.mountpoint) + ", " +
                     Km(best.distance_km) + " km away (";
  if (current_km < 0) return NearerMount{best.stream.mountpoint, line + current + " is not listed)"};
  if (current_km - best.distance_km < kNearerKm || best.distance_km > kNearerShare * current_km) {
    return std::nullopt;
  }
  return NearerMount{best.stream.mountpoint, line + current + " is " + Km(current_km) + " km away)"};
}

bool FollowSpacing::Due(const Position& here, Clock::time_point now) const {
  return now - last_read_ >= period_ &&
         tarno::DistanceKm(here.latitude, here.longitude, chosen_at_.latitude,
                           chosen_at_.longitude) > kMovedKm;
}

void FollowSpacing::Read(const Position& here, Clock::time_point now) {
  chosen_at_ = here;
  last_read_ = now;
}

NearestFollow::~NearestFollow() {
  if (thread_.joinable()) thread_.join();
}

bool NearestFollow::Start(const Position& here, std::string current) {
  std::jthread finished;
  {
    std::scoped_lock lock(mutex_);
    if (running_) return false;
    finished = std::move(thread_);
  }
  if (finished.joinable()) finished.join();  // its read is over: this waits for nothing
  std::scoped_lock lock(mutex_);
  running_ = true;
  outcome_.reset();
  // The thread's own stop token ends a read at once when the follower goes (a stop).
  thread_ = std::jthread([this, here, current = std::move(current),
                          caster = caster_](std::stop_token stop) {
    tarno::NameThisThread("ntrip-follow");
    tarno::ClientTiming bounds;
    bounds.connect_bound = bounds.request_bound = bounds.header_bound = bounds.idle_read_bound =
        kReadBound;
    const tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(caster, bounds, stop);
    std::optional<NearerMount> choice;
    if (fetched.refusal.kind == tarno::Refusal::Kind::None) {
      choice = ChooseNearerMount(fetched.table, here, current);
    }
    std::scoped_lock done(mutex_);
    tarno::KeepVersionAnswered(caster_, fetched.ntrip1);
    outcome_ = std::move(choice);
    running_ = false;
  });
  return true;
}

std::optional<std::optional<NearerMount>> NearestFollow::Take() {
  std::scoped_lock lock(mutex_);
  return std::exchange(outcome_, std::nullopt);
}

}  // namespace ntrip_host
