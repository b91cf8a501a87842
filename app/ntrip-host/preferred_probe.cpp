#include "preferred_probe.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base64.h"
#include "caster_exchange.h"
#include "caster_response.h"
#include "content_coding.h"
#include "ntrip_request.h"
#include "request_values.h"
#include "rtcm/frame_scanner.h"

namespace ntrip_host {

namespace {

using Clock = tarno::ClientSocket::Clock;

std::chrono::nanoseconds Left(Clock::time_point deadline) {
  return std::max<std::chrono::nanoseconds>(deadline - Clock::now(), std::chrono::nanoseconds(1));
}

ProbeOutcome No(std::string why) {
  return {false, std::move(why)};
}

}  // namespace

ProbeOutcome ProbeStream(tarno::ClientSocket& socket, const tarno::CasterAddress& caster,
                         const std::string& mountpoint, bool ntrip1, Clock::time_point deadline) {
  // The client's own exchange: the same resolution, connect, request and judgement of the head.
  const tarno::HttpProxy& proxy = caster.proxy;
  boost::system::error_code error;
  const tarno::CasterEndpoints endpoints =
      tarno::ResolveCaster(caster.host, caster.port, proxy, error);
  if (error) return No(tarno::ResolutionRefusal(error, caster.host, proxy).text);
  if (caster.tls) {
    const tarno::Refusal refused = tarno::UseTlsFor(socket, caster.host, caster.tls_ca_file);
    if (refused.kind != tarno::Refusal::Kind::None) return No(refused.text);
  }
  tarno::ClientTiming bounds;
  bounds.connect_bound = bounds.request_bound = bounds.header_bound = Left(deadline);
  const tarno::ConnectOutcome connected =
      tarno::ConnectToCaster(socket, endpoints, proxy, caster.host, caster.port, bounds);
  if (connected.error || connected.refusal.kind != tarno::Refusal::Kind::None) {
    return No(connected.refusal.text);
  }

  std::string credential;
  if (!caster.username.empty()) tarno::Base64Encode(caster.username + ":" + caster.password, credential);
  const std::string request = ntrip1 ? tarno::Ntrip1Request(mountpoint, credential)
                                     : tarno::NtripRequest(mountpoint, caster.host, credential,
                                                           caster.gga);
  bounds.request_bound = bounds.header_bound = Left(deadline);
  const tarno::CasterAnswer answer = tarno::AskCaster(
      socket, request, tarno::Asked::Stream, caster.host, caster.port, mountpoint, bounds);
  if (answer.refusal.kind != tarno::Refusal::Kind::None) return No(answer.refusal.text);
  if (answer.error) {
    return No(tarno::NoUsableAnswer(caster.host, caster.port, mountpoint, answer.error.message()).text);
  }
  const tarno::ResponseHeadReader& reader = answer.reader;
  if (!reader.failure().empty()) return No(reader.failure());
  const tarno::ResponseHead& head = reader.head();
  if (const std::string coding = tarno::UnknownCoding(head); !coding.empty()) {
    return No(tarno::UnreadableCoding(caster.host, caster.port, mountpoint, coding).text);
  }
  // A caster of NTRIP 1.0 sends nothing before it has a position in the stream.
  if ((head.ntrip1 || ntrip1) && !caster.gga.empty()) {
    if (const auto failed = socket.WriteAll(caster.gga, Left(deadline))) {
      return No(tarno::NetworkRefusal(failed, caster.host, caster.port).text);
    }
  }

  char buffer[4096];
  tarno::StreamDecoder stream(head);
  rtcm::FrameScanner scanner;
  bool framed = false;
  const auto take = [&](std::string_view bytes) {
    std::string payload;
    const auto result = stream.Feed(bytes, payload);
    scanner.Feed({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()},
                 [&](std::span<const std::uint8_t>) { framed = true; });
    return result;
  };
  auto result = take(reader.leftover());
  while (!framed && result == tarno::StreamDecoder::Result::Ok) {
    const std::size_t n = socket.ReadSome(buffer, sizeof buffer, deadline, error);
    if (error) return No("answered, but no RTCM 3 frame came: " + error.message());
    result = take(std::string_view(buffer, n));
  }
  if (!framed) return No("answered, but no RTCM 3 frame came");
  return {true, ""};
}

PreferredProbe::PreferredProbe(tarno::CasterAddress caster, std::string mountpoint, bool ntrip1,
                               std::chrono::nanoseconds bound)
    : caster_(std::move(caster)), mountpoint_(std::move(mountpoint)), ntrip1_(ntrip1),
      bound_(bound) {}

PreferredProbe::~PreferredProbe() {
  std::shared_ptr<tarno::ClientSocket> socket;
  {
    std::scoped_lock lock(mutex_);
    socket = socket_;
  }
  if (socket) socket->Close();
  if (thread_.joinable()) thread_.join();
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
  socket_ = std::make_shared<tarno::ClientSocket>();
  tarno::CasterAddress caster = caster_;
  caster.gga = std::move(gga);
  thread_ = std::jthread([this, socket = socket_, caster = std::move(caster)] {
    ProbeOutcome outcome = ProbeStream(*socket, caster, mountpoint_, ntrip1_, Clock::now() + bound_);
    socket->Close();
    std::scoped_lock done(mutex_);
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
