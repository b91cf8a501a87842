#include "connection_watch.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace maps_host {

namespace {

constexpr const char* kConnecting = "Connecting to ";
constexpr const char* kConnected = "connected to ";
constexpr const char* kLost = "connection lost: ";
// "the caster closed MOUNT after N bytes"
constexpr std::string_view kShortLinkStart = "the caster closed ";
constexpr std::string_view kShortLinkEnd = " bytes";

// The component spaces failed set-ups 1, 2, 4 ... s apart, at most 60 s.
double RetrySpacing(std::uint32_t failures) {
  if (failures == 0) return 0;
  return std::min(60.0,
                  std::ldexp(1.0, static_cast<int>(std::min<std::uint32_t>(failures - 1, 6))));
}

}  // namespace

void ConnectionWatch::OnReport(const Report& report, Clock::time_point now) {
  std::scoped_lock lock(mutex_);
  const std::string& text = report.text;
  const auto end_connection = [&] {
    if (connected_ && connected_at_) connected_total_ += now - *connected_at_;
    connected_ = false;
  };
  const auto fail = [&] {
    ++failures_;
    failed_at_ = now;
    connecting_ = false;
    if (cause_.empty()) cause_ = "no connection";
  };
  if (text.starts_with(kConnecting)) {
    // A set-up that begins while the previous one never connected follows a failure.
    if (connecting_) fail();
    connecting_ = true;
    ++attempts_;
  } else if (text.starts_with(kConnected)) {
    const std::string rest = text.substr(std::string(kConnected).size());
    target_ = rest.substr(0, rest.find(" ("));
    ++connections_;
    if (lost_at_) last_gap_ = std::chrono::duration<double>(now - *lost_at_).count();
    lost_at_.reset();
    connecting_ = false;
    connected_ = true;
    connected_at_ = now;
    cause_.clear();
    concern_.clear();
  } else if (text.starts_with(kLost)) {
    end_connection();
    cause_ = text.substr(std::string(kLost).size());
    lost_at_ = now;
    // A link the caster closed after a few bytes was no working one: the component spaces the
    // next set-up like after a failed one.
    if (cause_.starts_with(kShortLinkStart) && cause_.ends_with(kShortLinkEnd)) {
      ++failures_;
      failed_at_ = now;
    } else {
      failures_ = 0;
    }
  } else if (report.kind == MAPS::ReportKind::Warning && connected_) {
    // A stream that flows but is not what it should be (no RTCM 3 in it).
    concern_ = text;
  } else if (report.kind == MAPS::ReportKind::Warning && attempts_ > 0 && !connected_) {
    // The component warns of a refusal once, just after the set-up it ended; its quiet
    // retries keep this cause.
    cause_ = text;
    if (connecting_) fail();
  } else if ((connecting_ && text.starts_with("Restart the Socket Error")) ||
             text.starts_with("Error with Boost")) {
    ++attempts_;
    fail();  // the component's words for a failed set-up
  }
}

ConnectionWatch::Snapshot ConnectionWatch::Take(Clock::time_point now) const {
  std::scoped_lock lock(mutex_);
  Snapshot snapshot;
  if (connected_) {
    snapshot.state = kConnected + target_ + (concern_.empty() ? "" : ": " + concern_);
  } else if (!connecting_ && !cause_.empty()) {
    const double spacing = RetrySpacing(failures_) * time_scale_;
    const double left =
        std::max(0.0, spacing - std::chrono::duration<double>(now - failed_at_).count());
    snapshot.state =
        "retrying in " + std::to_string(static_cast<int>(std::ceil(left))) + " s: " + cause_;
  } else {
    snapshot.state = "connecting";
  }
  snapshot.reconnects = connections_ > 0 ? connections_ - 1 : 0;
  snapshot.last_gap_seconds = last_gap_;
  Clock::duration total = connected_total_;
  if (connected_ && connected_at_) total += now - *connected_at_;
  snapshot.connected_seconds = std::chrono::duration<double>(total).count();
  return snapshot;
}

}  // namespace maps_host
