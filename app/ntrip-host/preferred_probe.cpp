#include "preferred_probe.h"

#include "platform.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>

#include "rtcm/frame_scanner.h"

namespace ntrip_host {

namespace {

using Clock = tarno::CasterStream::Clock;

ProbeOutcome No(std::string why, bool ntrip1) {
  return {false, std::move(why), ntrip1};
}

}  // namespace

ProbeOutcome ProbeStream(const tarno::CasterAddress& caster, const std::string& mountpoint,
                         std::stop_token stop, Clock::time_point deadline) {
  tarno::CasterStream stream(caster, tarno::Asked::Stream, mountpoint, tarno::ClientTiming(),
                             std::move(stop), deadline);
  const bool ntrip1 = stream.ntrip1();
  if (stream.refusal().kind != tarno::Refusal::Kind::None) return No(stream.refusal().text, ntrip1);
  rtcm::FrameScanner scanner;
  bool framed = false;
  auto result = tarno::CasterStream::Result::Ok;
  while (!framed && result == tarno::CasterStream::Result::Ok) {
    std::string payload;
    boost::system::error_code error;
    result = stream.Read(payload, deadline, error);
    if (error) return No("answered, but no RTCM 3 frame came: " + error.message(), ntrip1);
    scanner.Feed({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()},
                 [&](std::span<const std::uint8_t>) { framed = true; });
  }
  if (!framed) return No("answered, but no RTCM 3 frame came", ntrip1);
  return {true, "", ntrip1};
}

PreferredProbe::PreferredProbe(tarno::CasterAddress caster, std::string mountpoint,
                               std::chrono::nanoseconds bound)
    : mountpoint_(std::move(mountpoint)), bound_(bound), caster_(std::move(caster)) {}

PreferredProbe::~PreferredProbe() {
  // The thread's stop closes the probe's connection: nothing waits for its bounds.
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

bool PreferredProbe::Start(std::string gga) {
  std::jthread finished;
  {
    std::scoped_lock lock(mutex_);
    if (running_) return false;
    finished = std::move(thread_);
  }
  // The previous probe's thread has ended its work: joining it waits for nothing.
  if (finished.joinable()) finished.join();
  std::scoped_lock lock(mutex_);
  running_ = true;
  outcome_.reset();
  tarno::CasterAddress caster = caster_;
  caster.gga = std::move(gga);
  thread_ = std::jthread([this, caster = std::move(caster)](std::stop_token stop) {
    tarno::NameThisThread("ntrip-probe");
    ProbeOutcome outcome = ProbeStream(caster, mountpoint_, std::move(stop), Clock::now() + bound_);
    std::scoped_lock done(mutex_);
    tarno::KeepVersionAnswered(caster_, outcome.ntrip1);
    outcome_ = std::move(outcome);
    running_ = false;
  });
  return true;
}

bool PreferredProbe::Running() const {
  std::scoped_lock lock(mutex_);
  return running_;
}

std::optional<ProbeOutcome> PreferredProbe::Take() {
  std::scoped_lock lock(mutex_);
  return std::exchange(outcome_, std::nullopt);
}

void ProbeSpacing::Restart(Clock::time_point now) {
  spacing_ = period_;
  next_ = now + spacing_;
}

void ProbeSpacing::Failed(Clock::time_point now) {
  const Clock::duration most = std::max<Clock::duration>(2 * period_, std::chrono::seconds(60));
  spacing_ = std::min(most, 2 * spacing_);
  next_ = now + spacing_;
}

}  // namespace ntrip_host
