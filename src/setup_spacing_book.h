#pragma once
// Spacing of connection set-ups per caster route, kept by whoever outlives the instances that
// connect: a host that replaces an instance (a switch of source and back) hands the next one the
// same book, so a caster that refused is not asked again sooner than its spacing says.
// Header-only: the program makes the book and the component package uses it, each with its own
// copy of this code.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "reconnect_spacing.h"

namespace tarno {

class SetupSpacingBook {
 public:
  using Clock = ReconnectSpacing::Clock;

  // The name under which a host hands the book to an instance.
  static constexpr const char* kHostObjectName = "setup_spacing";
  // Connections that end within the short-link time after data, in a row, before they count as
  // failed set-ups.
  static constexpr std::uint32_t kShortLinksTolerated = 3;

  // time_scale: the host's clock factor; 1 in production.
  explicit SetupSpacingBook(double time_scale = 1.0) : time_scale_(time_scale) {}

  bool MayAttempt(const std::string& route, Clock::time_point now) {
    std::scoped_lock lock(mutex_);
    return Of(route).spacing.MayAttempt(now);
  }
  double SecondsLeft(const std::string& route, Clock::time_point now) {
    std::scoped_lock lock(mutex_);
    return Of(route).spacing.SecondsLeft(now);
  }
  std::uint32_t Failures(const std::string& route) {
    std::scoped_lock lock(mutex_);
    return Of(route).spacing.Failures();
  }
  // Returns the pause that now follows, in the route's seconds (unscaled).
  std::chrono::seconds RecordFailure(const std::string& route, Clock::time_point now) {
    std::scoped_lock lock(mutex_);
    Entry& entry = Of(route);
    entry.spacing.RecordFailure(now);
    return entry.spacing.Delay();
  }
  // A link that carried corrections for long enough: the route starts afresh.
  void RecordSuccess(const std::string& route) {
    std::scoped_lock lock(mutex_);
    Entry& entry = Of(route);
    entry.spacing.RecordSuccess();
    entry.short_links = 0;
  }
  // A connection that ended soon after delivering data; the count in a row.
  std::uint32_t RecordShortLink(const std::string& route) {
    std::scoped_lock lock(mutex_);
    return ++Of(route).short_links;
  }

 private:
  struct Entry {
    ReconnectSpacing spacing;
    std::uint32_t short_links = 0;
  };
  Entry& Of(const std::string& route) {
    return entries_.try_emplace(route, Entry{ReconnectSpacing(time_scale_)}).first->second;
  }

  const double time_scale_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace tarno
