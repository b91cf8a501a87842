#include "connection_watch.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "link_events.h"

namespace ntrip_host {

void ConnectionWatch::OnReport(const Report& report, Clock::time_point now) {
  const tarno::LinkEvent event = tarno::ParseLinkEvent(report.text);
  {
    std::scoped_lock lock(mutex_);
    Follow(event, now);
  }
  if (event.kind == tarno::LinkEvent::Kind::Connected && on_connected_) on_connected_();
}

void ConnectionWatch::Follow(const tarno::LinkEvent& event, Clock::time_point now) {
  switch (event.kind) {
    case tarno::LinkEvent::Kind::Connecting:
      connecting_ = true;
      retry_at_.reset();
      break;
    case tarno::LinkEvent::Kind::Connected:
      // A client rebuilt without a loss (a better position's accuracy) was connected until now.
      if (connected_ && connected_at_) connected_total_ += now - *connected_at_;
      target_ = event.target;
      ++connections_;
      if (lost_at_) last_gap_ = std::chrono::duration<double>(now - *lost_at_).count();
      lost_at_.reset();
      retry_at_.reset();
      connecting_ = false;
      connected_ = true;
      connected_at_ = now;
      cause_.clear();
      concern_.clear();
      setbacks_ = 0;
      break;
    case tarno::LinkEvent::Kind::Lost:
      if (connected_ && connected_at_) connected_total_ += now - *connected_at_;
      connected_ = false;
      connecting_ = false;
      cause_ = event.detail;
      lost_at_ = now;
      ++setbacks_;
      break;
    case tarno::LinkEvent::Kind::Retrying:
      connecting_ = false;
      cause_ = event.detail;
      retry_at_ = now + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(event.wait_seconds));
      ++setbacks_;
      break;
    case tarno::LinkEvent::Kind::NotRtcm:
      // A stream that flows but is not what it should be: shown after the link's state.
      if (connected_) concern_ = event.detail;
      break;
    case tarno::LinkEvent::Kind::None:
      // Any other report, warnings included (a log file that cannot be written), is the
      // console's to show: it says nothing of the link.
      break;
  }
}

void ConnectionWatch::NewSource() {
  std::scoped_lock lock(mutex_);
  setbacks_ = 0;
}

ConnectionWatch::Snapshot ConnectionWatch::Take(Clock::time_point now) const {
  std::scoped_lock lock(mutex_);
  Snapshot snapshot;
  snapshot.setbacks = setbacks_;
  snapshot.setback_cause = cause_;
  snapshot.connected = connected_;
  if (connected_) {
    snapshot.state = "connected to " + target_ + (concern_.empty() ? "" : ": " + concern_);
  } else if (!connecting_ && retry_at_) {
    const double left = std::max(0.0, std::chrono::duration<double>(*retry_at_ - now).count());
    snapshot.state = tarno::RetryingEvent(left, cause_);
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

}  // namespace ntrip_host
