#pragma once
// A CONNECT proxy for tests of the way to a caster through a proxy.
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>

namespace test_support {

// A tiny CONNECT proxy on loopback: checks the Basic credential (Base64 of "user:password") when
// one is given, answers `refusal` instead of opening the tunnel when set, and relays both ways
// once the tunnel is open. Every request head is kept.
class ConnectProxy {
  using tcp = boost::asio::ip::tcp;

 public:
  explicit ConnectProxy(std::string credential, std::string refusal = "")
      : _refusal(std::move(refusal)),
        _credential(std::move(credential)),
        _acceptor(_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    Accept();
    _thread = std::thread([this] { _io.run(); });
  }
  ~ConnectProxy() {
    _io.stop();
    _thread.join();
  }
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  std::string Port() const { return std::to_string(_acceptor.local_endpoint().port()); }
  std::vector<std::string> Requests() const {
    std::scoped_lock lock(_mutex);
    return _requests;
  }

 private:
  struct Tunnel {
    explicit Tunnel(boost::asio::io_context& io) : client(io), server(io) {}
    tcp::socket client, server;
    boost::asio::streambuf head;
    std::array<char, 4096> up{}, down{};
  };

  void Accept() {
    auto tunnel = std::make_shared<Tunnel>(_io);
    _acceptor.async_accept(tunnel->client, [this, tunnel](boost::system::error_code error) {
      if (error) return;
      Accept();
      boost::asio::async_read_until(
          tunnel->client, tunnel->head, "\r\n\r\n",
          [this, tunnel](boost::system::error_code e, std::size_t size) {
            if (!e)
              Answer(tunnel, std::string(boost::asio::buffers_begin(tunnel->head.data()),
                                         boost::asio::buffers_begin(tunnel->head.data()) +
                                             static_cast<std::ptrdiff_t>(size)));
          });
    });
  }

  void Answer(const std::shared_ptr<Tunnel>& tunnel, const std::string& request) {
    {
      std::scoped_lock lock(_mutex);
      _requests.push_back(request);
    }
    std::string refusal = _refusal;
    if (refusal.empty() && !_credential.empty() &&
        request.find("\r\nProxy-Authorization: Basic " + _credential + "\r\n") ==
            std::string::npos) {
      refusal =
          "HTTP/1.1 407 Proxy Authentication Required\r\n"
          "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n";
    }
    if (!refusal.empty()) {
      auto answer = std::make_shared<std::string>(refusal);
      boost::asio::async_write(tunnel->client, boost::asio::buffer(*answer),
                               [tunnel, answer](boost::system::error_code, std::size_t) {
                                 boost::system::error_code ignored;
                                 tunnel->client.close(ignored);
                               });
      return;
    }
    // "CONNECT HOST:PORT HTTP/1.1": the target is the caster on loopback.
    const std::size_t begin = request.find(' ') + 1;
    const std::string target = request.substr(begin, request.find(' ', begin) - begin);
    const std::size_t colon = target.rfind(':');
    const tcp::endpoint caster(boost::asio::ip::make_address(target.substr(0, colon)),
                               static_cast<unsigned short>(std::stoi(target.substr(colon + 1))));
    tunnel->server.async_connect(caster, [tunnel](boost::system::error_code e) {
      if (e) return;
      static const std::string kEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";
      boost::asio::async_write(tunnel->client, boost::asio::buffer(kEstablished),
                               [tunnel](boost::system::error_code e2, std::size_t) {
                                 if (e2) return;
                                 Relay(tunnel, tunnel->client, tunnel->server, tunnel->up);
                                 Relay(tunnel, tunnel->server, tunnel->client, tunnel->down);
                               });
    });
  }

  static void Relay(const std::shared_ptr<Tunnel>& tunnel, tcp::socket& from, tcp::socket& to,
                    std::array<char, 4096>& buffer) {
    from.async_read_some(
        boost::asio::buffer(buffer),
        [tunnel, f = &from, t = &to, b = &buffer](boost::system::error_code e, std::size_t n) {
          if (e) {
            boost::system::error_code ignored;
            tunnel->client.close(ignored);
            tunnel->server.close(ignored);
            return;
          }
          boost::asio::async_write(*t, boost::asio::buffer(b->data(), n),
                                   [tunnel, f, t, b](boost::system::error_code e2, std::size_t) {
                                     if (!e2) Relay(tunnel, *f, *t, *b);
                                   });
        });
  }

  const std::string _refusal;
  const std::string _credential;
  boost::asio::io_context _io;
  tcp::acceptor _acceptor;
  mutable std::mutex _mutex;
  std::vector<std::string> _requests;
  std::thread _thread;
};

}  // namespace test_support
