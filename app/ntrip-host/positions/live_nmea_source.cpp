#include "positions/live_nmea_source.h"

#include "common/io_thread.h"
#include "platform.h"

#include "positions/nmea_line_stats.h"
#include "positions/nmea_position.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <mutex>
#include <thread>

namespace ntrip_host {

namespace asio = boost::asio;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

struct LiveNmeaSource::Impl {
  Impl(LiveNmeaSettings s, std::string what)
      : settings(std::move(s)), description(std::move(what)) {}

  // --- state shared with callers, under mutex ---
  mutable std::mutex mutex;
  PositionCounters counters;
  NmeaPositionTracker tracker;
  Clock::time_point last_gga{};

  // --- reader thread only ---
  const LiveNmeaSettings settings;
  const std::string description;
  std::optional<HostPort> tcp_endpoint;
  std::optional<SerialDevice> serial_device;
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  asio::ip::tcp::resolver resolver{io};
  asio::ip::tcp::socket socket{io};
  asio::serial_port serial{io};
  asio::steady_timer timer{io};  // connect bound, retry delay or idle bound: one at a time
  std::array<char, 4096> buffer{};
  NmeaInput input;
  std::chrono::milliseconds retry_delay{settings.first_retry};
  bool connecting = false;
  bool idle_expired = false;
  std::jthread thread;

  void Log(LogLevel level, const std::string& line) const {
    LogTo(settings.log, level, description + ": " + line);
  }

  void Start() {
    asio::post(io, [this] { Open(); });
    thread = std::jthread([this] {
      tarno::NameThisThread("ntrip-nmea");
      RunGuarded(io, settings.log);
    });
  }

  void Stop() {
    io.stop();  // thread-safe; run() returns at once, pending waits included
    if (thread.joinable()) thread.join();
  }

  void Open() {
    input.Reset();
    idle_expired = false;
    if (serial_device) {
      OpenSerial();
    } else {
      ResolveTcp();
    }
  }

  void OpenSerial() {
    error_code ec;
    if (!OpenSerialPort(serial, *serial_device, ec)) {
      Retry("cannot open: " + ec.message());
      return;
    }
    Connected();
  }

  void ResolveTcp() {
    connecting = true;
    ArmTimer(settings.connect_timeout, [this] {
      if (!connecting) return;
      connecting = false;  // tells the handlers below that the bound, not the peer, ended them
      resolver.cancel();
      error_code ignored;
      socket.close(ignored);  // the pending connect completes with an error and retries
    });
    const std::string service = std::to_string(tcp_endpoint->port);
    error_code not_an_address;
    const asio::ip::address address = asio::ip::make_address(tcp_endpoint->host, not_an_address);
    if (!not_an_address) {
      // An address needs no resolver, whose own thread would stay for the whole run.
      ConnectTcp(asio::ip::tcp::resolver::results_type::create(
          asio::ip::tcp::endpoint(address, tcp_endpoint->port), tcp_endpoint->host, service));
      return;
    }
    resolver.async_resolve(
        tcp_endpoint->host, service, asio::ip::tcp::resolver::numeric_service,
        [this](const error_code& ec, asio::ip::tcp::resolver::results_type r) {
          if (ec || !connecting) {
            const bool timed_out = !connecting;
            connecting = false;
            Retry(timed_out ? "name resolution timed out" : "cannot resolve: " + ec.message());
            return;
          }
          ConnectTcp(r);
        });
  }

  void ConnectTcp(const asio::ip::tcp::resolver::results_type& endpoints) {
    asio::async_connect(
        socket, endpoints, [this](const error_code& cec, const asio::ip::tcp::endpoint&) {
          const bool timed_out = !connecting;
          connecting = false;
          if (cec) {
            error_code ignored;
            socket.close(ignored);
            Retry(timed_out ? "connect timed out" : "cannot connect: " + cec.message());
            return;
          }
          Connected();
        });
  }

  void Connected() {
    timer.cancel();
    Log(LogLevel::kInfo, "connected");
    Read();
  }

  void Read() {
    auto on_read = [this](const error_code& ec, std::size_t n) {
      if (ec) {
        if (idle_expired) {
          Dropped("no data for " + std::to_string(settings.idle_timeout.count()) + " ms");
        } else {
          Dropped(ec == asio::error::eof ? "receiver closed the connection" : ec.message());
        }
        return;
      }
      retry_delay = settings.first_retry;
      Consume(std::string_view(buffer.data(), n));
      Read();
    };
    if (serial_device) {
      serial.async_read_some(asio::buffer(buffer), on_read);
      return;
    }
    // A receiver sends every second; a silent stream is a dead (perhaps half-open) connection.
    ArmTimer(settings.idle_timeout, [this] {
      idle_expired = true;
      error_code ignored;
      socket.close(ignored);
    });
    socket.async_read_some(asio::buffer(buffer), on_read);
  }

  void Consume(std::string_view bytes) {
    std::scoped_lock lock(mutex);
    input.Feed(bytes, counters, [this](const NmeaParse& parse) {
      tracker.Feed(parse);
      if (parse.status == NmeaStatus::kOk && std::holds_alternative<GgaFix>(parse.sentence)) {
        last_gga = Clock::now();
      }
    });
  }

  void Dropped(const std::string& why) {
    error_code ignored;
    socket.close(ignored);
    serial.close(ignored);
    Retry("connection lost: " + why);
  }

  void Retry(const std::string& why) {
    const auto delay = retry_delay;
    Log(LogLevel::kWarning, why + "; retrying in " + std::to_string(delay.count()) + " ms");
    retry_delay = std::min(retry_delay * 2, settings.max_retry);
    ArmTimer(delay, [this] { Open(); });
  }

  template <typename Action>
  void ArmTimer(std::chrono::milliseconds after, Action action) {
    timer.expires_after(after);
    timer.async_wait([action](const error_code& ec) {
      if (!ec) action();
    });
  }
};

LiveNmeaSource::LiveNmeaSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
  impl_->Start();
}

std::unique_ptr<LiveNmeaSource> LiveNmeaSource::Tcp(HostPort endpoint,
                                                    const LiveNmeaSettings& settings) {
  const bool v6 = endpoint.host.find(':') != std::string::npos;
  const std::string what = "NMEA over tcp://" + (v6 ? "[" + endpoint.host + "]" : endpoint.host) +
                           ":" + std::to_string(endpoint.port);
  auto impl = std::make_unique<Impl>(settings, what);
  impl->tcp_endpoint = std::move(endpoint);
  return std::unique_ptr<LiveNmeaSource>(new LiveNmeaSource(std::move(impl)));
}

std::unique_ptr<LiveNmeaSource> LiveNmeaSource::Serial(SerialDevice port_setting,
                                                       const LiveNmeaSettings& settings) {
  const std::string what = "NMEA from serial:" + port_setting.device + " at " +
                           std::to_string(port_setting.baud) + " baud";
  auto impl = std::make_unique<Impl>(settings, what);
  impl->serial_device = std::move(port_setting);
  return std::unique_ptr<LiveNmeaSource>(new LiveNmeaSource(std::move(impl)));
}

LiveNmeaSource::~LiveNmeaSource() {
  impl_->Stop();
}

std::optional<PositionSample> LiveNmeaSource::Next() {
  std::scoped_lock lock(impl_->mutex);
  auto sample = impl_->tracker.Current();
  if (!sample || Clock::now() - impl_->last_gga > impl_->settings.stale_after) return std::nullopt;
  ++impl_->counters.positions_produced;
  return sample;
}

PositionCounters LiveNmeaSource::Counters() const {
  std::scoped_lock lock(impl_->mutex);
  return impl_->counters;
}

std::string LiveNmeaSource::Description() const {
  return impl_->description;
}

}  // namespace ntrip_host
