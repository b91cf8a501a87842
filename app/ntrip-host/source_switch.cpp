#include "source_switch.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace ntrip_host {

namespace {

// A source counts as failing once it has given no frame for this long (or for the switch time,
// when that is shorter): probes of the preferred source wait while it fails.
constexpr std::chrono::seconds kHealthyWithin{5};

std::string Number(double value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::string Source::Text() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + port + "/" + mountpoint;
}

Source ParseSource(std::string_view text) {
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument("\"" + std::string(text) + "\": " + why +
                                 " (use HOST:PORT/MOUNT)");
  };
  Source source;
  std::string_view rest = text;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) throw bad("no ] after the IPv6 address");
    source.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.starts_with(':')) throw bad("no :PORT after the host");
    rest.remove_prefix(1);
  } else {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) throw bad("no :PORT after the host");
    source.host = std::string(rest.substr(0, colon));
    rest.remove_prefix(colon + 1);
  }
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) throw bad("no /MOUNT after the port");
  source.port = std::string(rest.substr(0, slash));
  source.mountpoint = std::string(rest.substr(slash + 1));
  if (source.host.empty()) throw bad("no host");
  if (source.port.empty() ||
      !std::all_of(source.port.begin(), source.port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw bad("the port is not a number");
  if (source.mountpoint.empty()) throw bad("no mount point");
  return source;
}

SourceSwitch::SourceSwitch(std::vector<Source> sources, Clock::duration switch_after,
                           Clock::time_point start, Clock::duration longest_spacing)
    : sources_(std::move(sources)),
      switch_after_(switch_after),
      longest_spacing_(longest_spacing),
      since_(start),
      time_on_(sources_.size()),
      failed_(sources_.size(), false) {}

void SourceSwitch::OnRaw(std::string_view bytes, Clock::time_point now) {
  std::scoped_lock lock(mutex_);
  bool framed = false;
  scanner_.Feed({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                [&](std::span<const std::uint8_t>) { framed = true; });
  if (framed) {
    last_frame_ = now;
    failed_[current_] = false;
  }
}

std::optional<SourceSwitch::Due> SourceSwitch::SwitchDue(
    Clock::time_point now, const std::optional<std::string>& broken) const {
  std::scoped_lock lock(mutex_);
  if (sources_.size() < 2) return std::nullopt;
  const std::size_t next = (current_ + 1) % sources_.size();
  const bool all_failed = std::all_of(failed_.begin(), failed_.end(), [](bool f) { return f; });
  if (broken && !all_failed) return Due{next, sources_[current_].Text() + " failed: " + *broken};
  const Clock::duration stay =
      all_failed ? std::max(switch_after_, longest_spacing_) : switch_after_;
  const Clock::time_point quiet_since = last_frame_ ? std::max(*last_frame_, since_) : since_;
  if (now - quiet_since < stay) return std::nullopt;
  return Due{next, sources_[current_].Text() + " gave no corrections for " +
                       Number(Seconds(stay), "%g") + " s"};
}

bool SourceSwitch::AllFailed() const {
  std::scoped_lock lock(mutex_);
  return sources_.size() > 1 &&
         std::all_of(failed_.begin(), failed_.end(), [](bool f) { return f; });
}

bool SourceSwitch::Failing(Clock::time_point now) const {
  std::scoped_lock lock(mutex_);
  const Clock::duration healthy = std::min<Clock::duration>(kHealthyWithin, switch_after_);
  return !last_frame_ || now - *last_frame_ > healthy;
}

void SourceSwitch::SwitchTo(std::size_t index, std::string reason, Clock::time_point now,
                            bool failed) {
  std::scoped_lock lock(mutex_);
  time_on_[current_] += now - since_;
  if (failed) failed_[current_] = true;
  current_ = index % sources_.size();
  since_ = now;
  last_frame_.reset();
  scanner_ = rtcm::FrameScanner();
  reason_ = std::move(reason);
  ++switches_;
}

std::size_t SourceSwitch::Current() const {
  std::scoped_lock lock(mutex_);
  return current_;
}

Source SourceSwitch::At(std::size_t index) const {
  std::scoped_lock lock(mutex_);
  return sources_.at(index);
}

void SourceSwitch::SetMountpoint(std::size_t index, std::string mountpoint) {
  std::scoped_lock lock(mutex_);
  sources_.at(index).mountpoint = std::move(mountpoint);
}

SourceSwitch::Snapshot SourceSwitch::Take(Clock::time_point now) const {
  std::scoped_lock lock(mutex_);
  Snapshot snapshot;
  snapshot.source = sources_[current_].Text();
  snapshot.index = current_ + 1;
  snapshot.count = sources_.size();
  snapshot.switches = switches_;
  if (sources_.size() < 2) return snapshot;
  snapshot.text =
      "source " + std::to_string(current_ + 1) + " of " + std::to_string(sources_.size());
  if (switches_ > 0) {
    snapshot.text += std::string(" (") + (current_ == 0 ? "preferred" : "fallback") + " since " +
                     Number(Seconds(now - since_), "%.0f") + " s: " + reason_ + ")";
  }
  return snapshot;
}

std::string SourceSwitch::Summary(Clock::time_point now) const {
  std::scoped_lock lock(mutex_);
  // One source changes only its mount point (--follow-nearest): the count alone says it.
  if (sources_.size() < 2) return switches_ == 0 ? "" : "switches " + std::to_string(switches_);
  std::string text = "switches " + std::to_string(switches_) + " (";
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const Clock::duration on = time_on_[i] + (i == current_ ? now - since_ : Clock::duration{});
    text += (i == 0 ? "" : ", ") + std::string("source ") + std::to_string(i + 1) + " " +
            Number(Seconds(on), "%.1f") + " s";
  }
  return text + ")";
}

}  // namespace ntrip_host
