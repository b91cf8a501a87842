#include "sinks/tcp_listen_sink.h"

#include "common/io_thread.h"
#include "platform.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace ntrip_host {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;
using Element = std::shared_ptr<const std::string>;

namespace {

struct Client {
  explicit Client(tcp::socket s) : socket(std::move(s)), fd(socket.native_handle()) {}
  tcp::socket socket;
  const SocketHandle fd;
  std::string peer;
  std::deque<Element> queue;
  std::size_t queued_bytes = 0;  // including the element being written
  bool writing = false;
  bool gone = false;
  std::array<char, 512> discard{};  // what a client sends us is not used
  // Under the sink's mutex. `direct`: nothing waits for this client on the io thread, so the
  // publishing thread writes to it at once. `posted`: elements handed to the io thread for it and
  // not yet queued there; the client goes direct again only when there are none, so that bytes
  // keep their order.
  bool direct = true;
  std::size_t posted = 0;
};

// One element's way to a client through the io thread: from `offset` on (what the publishing
// thread could not write), or the client's removal when its socket failed (`error`).
struct Handed {
  std::shared_ptr<Client> client;
  std::size_t offset = 0;
  int error = 0;
};

std::string PeerText(const tcp::socket& socket) {
  error_code ec;
  const auto endpoint = socket.remote_endpoint(ec);
  if (ec) return "unknown peer";
  std::ostringstream text;
  text << endpoint;
  return text.str();
}

}  // namespace

struct TcpListenSink::Impl {
  const SinkSettings settings;
  std::string description;
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  tcp::acceptor acceptor{io};
  asio::steady_timer drain_timer{io};
  std::set<std::shared_ptr<Client>> clients;  // io thread only
  bool closing = false;                       // io thread only
  std::jthread thread;

  mutable std::mutex mutex;  // counters, closed, listed and the clients' direct/posted
  SinkCounters counters;
  bool closed = false;
  // The clients the publishing thread writes to; a client leaves before its socket closes, so a
  // write never reaches a descriptor number used again for something else.
  std::vector<std::shared_ptr<Client>> listed;

  explicit Impl(const SinkSettings& s) : settings(s) {}

  void Log(LogLevel level, const std::string& line) const {
    LogTo(settings.log, level, description + ": " + line);
  }

  void Open(const HostPort& endpoint, std::string_view option) {
    error_code ec;
    // Without an address only this machine gets the corrections: the network gets them only
    // when asked for (0.0.0.0 or [::]).
    const std::string host =
        endpoint.host.empty() || endpoint.host == "localhost" ? "127.0.0.1" : endpoint.host;
    const auto address = asio::ip::make_address(host, ec);
    if (ec) {
      throw OptionError(std::string(option) + ": '" + endpoint.host +
                        "': ADDR must be a literal IPv4 address, [IPv6] address or localhost");
    }
    std::vector<tcp::endpoint> candidates = {tcp::endpoint(address, endpoint.port)};
    // [::] serves IPv4 clients too; where IPv6 is missing, 0.0.0.0 does.
    const bool all_interfaces_v6 = address.is_v6() && address.is_unspecified();
    if (all_interfaces_v6) candidates.emplace_back(tcp::v4(), endpoint.port);
    std::string failure;
    for (const auto& candidate : candidates) {
      if (TryListen(candidate, all_interfaces_v6, ec)) return;
      failure = ec.message();
    }
    throw OptionError(std::string(option) + ": cannot listen on port " +
                      std::to_string(endpoint.port) + ": " + failure);
  }

  bool TryListen(const tcp::endpoint& where, bool dual_stack, error_code& ec) {
    error_code ignored;
    acceptor.close(ignored);
    acceptor.open(where.protocol(), ec);
    if (!ec && dual_stack && where.protocol() == tcp::v6()) {
      acceptor.set_option(asio::ip::v6_only(false), ec);
    }
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(where, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    return !ec;
  }

  void Accept() {
    acceptor.async_accept([this](const error_code& ec, tcp::socket socket) {
      if (ec) {
        if (ec == asio::error::operation_aborted || closing) return;
        Log(LogLevel::kWarning, "accept failed: " + ec.message());
        Accept();
        return;
      }
      auto client = std::make_shared<Client>(std::move(socket));
      client->peer = PeerText(client->socket);
      error_code ignored;
      client->socket.set_option(tcp::no_delay(true), ignored);  // corrections are time-critical
      clients.insert(client);
      {
        std::scoped_lock lock(mutex);
        listed.push_back(client);
        ++counters.clients_connected;
      }
      Log(LogLevel::kInfo, "client " + client->peer + " connected");
      WatchForClose(client);
      Accept();
    });
  }

  // Reading is how a client that went away is noticed while there is nothing to send it.
  void WatchForClose(const std::shared_ptr<Client>& client) {
    client->socket.async_read_some(
        asio::buffer(client->discard), [this, client](const error_code& ec, std::size_t) {
          if (client->gone) return;
          if (ec) {
            Remove(client, "client " + client->peer + " disconnected", false);
            return;
          }
          WatchForClose(client);
        });
  }

  // In the publishing thread: each client that nothing waits for is written at once; the rest, or
  // what a socket did not take, goes to the io thread for that client alone.
  void Publish(std::string_view bytes) {
    std::vector<Handed> handed;
    std::scoped_lock lock(mutex);
    if (closed) return;
    counters.bytes_written += bytes.size();
    ++counters.elements_written;
    for (const auto& client : listed) {
      std::size_t done = 0;
      if (client->direct) {
        int error = 0;
        done = SendWithoutWaiting(client->fd, bytes, error);
        if (error == 0 && done == bytes.size()) continue;
        client->direct = false;
        if (error != 0) {
          handed.push_back({client, 0, error});
          continue;
        }
      }
      ++client->posted;
      handed.push_back({client, done, 0});
    }
    if (handed.empty()) return;
    auto element = std::make_shared<const std::string>(bytes);
    // Posted under the lock so no element can follow the close into the queue.
    asio::post(io, [this, element, handed = std::move(handed)] { Deliver(element, handed); });
  }

  void Deliver(const Element& whole, const std::vector<Handed>& handed) {
    for (const Handed& to : handed) {
      const std::shared_ptr<Client>& client = to.client;
      if (to.error != 0) {
        Remove(client, "dropping client " + client->peer + ": " + std::strerror(to.error), true);
        continue;
      }
      {
        std::scoped_lock lock(mutex);
        --client->posted;
      }
      if (client->gone) continue;
      const Element element =
          to.offset == 0 ? whole : std::make_shared<const std::string>(whole->substr(to.offset));
      if (client->queued_bytes + element->size() > settings.queue_limit) {
        Remove(client,
               "dropping client " + client->peer + ": more than " +
                   std::to_string(settings.queue_limit) + " bytes waiting for it",
               true);
        continue;
      }
      client->queue.push_back(element);
      client->queued_bytes += element->size();
      if (!client->writing) WriteNext(client);
    }
  }

  void WriteNext(const std::shared_ptr<Client>& client) {
    if (client->queue.empty()) {
      client->writing = false;
      if (closing) {
        Remove(client, "", false);
        return;
      }
      std::scoped_lock lock(mutex);
      if (client->posted == 0) client->direct = true;
      return;
    }
    client->writing = true;
    const Element element = client->queue.front();
    asio::async_write(client->socket, asio::buffer(*element),
                      [this, client, element](const error_code& ec, std::size_t) {
                        if (client->gone) return;
                        if (ec) {
                          Remove(client, "dropping client " + client->peer + ": " + ec.message(),
                                 true);
                          return;
                        }
                        client->queue.pop_front();
                        client->queued_bytes -= element->size();
                        WriteNext(client);
                      });
  }

  void Remove(const std::shared_ptr<Client>& client, const std::string& why, bool dropped) {
    if (client->gone) return;
    client->gone = true;
    {
      std::scoped_lock lock(mutex);
      client->direct = false;
      std::erase(listed, client);
    }
    error_code ignored;
    client->socket.shutdown(tcp::socket::shutdown_both, ignored);
    client->socket.close(ignored);
    client->queue.clear();
    clients.erase(client);
    {
      std::scoped_lock lock(mutex);
      if (dropped) ++counters.clients_dropped;
    }
    if (!why.empty()) Log(dropped ? LogLevel::kWarning : LogLevel::kInfo, why);
    if (closing && clients.empty()) drain_timer.cancel();
  }

  void BeginClose() {
    closing = true;
    error_code ignored;
    acceptor.close(ignored);
    const std::vector<std::shared_ptr<Client>> all(clients.begin(), clients.end());
    for (const auto& client : all) {
      if (!client->writing) Remove(client, "", false);
    }
    if (clients.empty()) return;
    drain_timer.expires_after(settings.close_drain);
    drain_timer.async_wait([this](const error_code& ec) {
      if (ec) return;
      const std::vector<std::shared_ptr<Client>> rest(clients.begin(), clients.end());
      for (const auto& client : rest) {
        Remove(client, "client " + client->peer + " cut off at close with data still queued", true);
      }
    });
  }
};

TcpListenSink::TcpListenSink(const HostPort& endpoint, std::string_view option,
                             const SinkSettings& settings)
    : impl_(std::make_unique<Impl>(settings)) {
  impl_->Open(endpoint, option);
  std::ostringstream text;
  text << "tcp-listen://" << impl_->acceptor.local_endpoint();
  impl_->description = text.str();
  impl_->Accept();
  impl_->thread = std::jthread([this] {
    tarno::NameThisThread("ntrip-tcp-io");
    RunGuarded(impl_->io, impl_->settings.log);
  });
}

TcpListenSink::~TcpListenSink() {
  Close();
}

void TcpListenSink::Write(std::string_view element) {
  impl_->Publish(element);
}

// run() returns once the clients are drained or cut off and the acceptor is closed.
void TcpListenSink::Close() {
  CloseOnIoThread(*impl_);
}

SinkCounters TcpListenSink::Counters() const {
  std::scoped_lock lock(impl_->mutex);
  return impl_->counters;
}

std::string TcpListenSink::Description() const {
  return impl_->description;
}

}  // namespace ntrip_host
