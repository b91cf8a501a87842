#include "preferred_probe.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include <boost/asio/io_context.hpp>

#include "base64.h"
#include "caster_connect.h"
#include "caster_response.h"
#include "content_coding.h"
#include "ntrip_request.h"
#include "request_values.h"
#include "rtcm/frame_scanner.h"
#include "tls_session.h"

namespace maps_host {

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
  boost::asio::io_context io;
  boost::asio::ip::tcp::resolver resolver(io);
  boost::system::error_code error;
  const tarno::HttpProxy& proxy = caster.proxy;
  const auto endpoints = resolver.resolve(
      tarno::BareHost(proxy.Enabled() ? proxy.host : caster.host),
      proxy.Enabled() ? proxy.port : caster.port,
      boost::asio::ip::tcp::resolver::numeric_service, error);
  if (error) return No("cannot resolve " + caster.host + ": " + error.message());
  if (caster.tls) {
    try {
      socket.UseTls(std::make_shared<tarno::TlsContext>(caster.host, caster.tls_ca_file));
    } catch (const std::invalid_argument& failure) {
      return No(failure.what());
    }
  }
  tarno::ConnectBounds bounds;
  bounds.connect = bounds.request = bounds.header = Left(deadline);
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
  if (const auto failed = socket.WriteAll(request, Left(deadline))) {
    return No(tarno::NetworkRefusal(failed, caster.host, caster.port).text);
  }

  tarno::ResponseHeadReader reader;
  char buffer[4096];
  auto progress = tarno::ResponseHeadReader::Progress::NeedMore;
  while (progress == tarno::ResponseHeadReader::Progress::NeedMore) {
    const std::size_t n = socket.ReadSome(buffer, sizeof buffer, deadline, error);
    if (error) {
      const tarno::ResponseHead& partial = reader.head();
      if (!partial.status_line.empty() && !tarno::IsStreamStatusLine(partial.status_line)) {
        return No(tarno::JudgeAnswer(partial, caster.host, caster.port, mountpoint).text);
      }
      return No(tarno::NoUsableAnswer(caster.host, caster.port, mountpoint, error.message()).text);
    }
    progress = reader.Feed(std::string_view(buffer, n));
  }
  if (progress == tarno::ResponseHeadReader::Progress::Failed) return No(reader.failure());
  const tarno::ResponseHead& head = reader.head();
  if (!head.success) return No(tarno::JudgeAnswer(head, caster.host, caster.port, mountpoint).text);
  if (const std::string coding = tarno::UnknownCoding(head); !coding.empty()) {
    return No(tarno::UnreadableCoding(caster.host, caster.port, mountpoint, coding).text);
  }
  // A caster of NTRIP 1.0 sends nothing before it has a position in the stream.
  if ((head.ntrip1 || ntrip1) && !caster.gga.empty()) {
    if (const auto failed = socket.WriteAll(caster.gga, Left(deadline))) {
      return No(tarno::NetworkRefusal(failed, caster.host, caster.port).text);
    }
  }

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

}  // namespace maps_host
