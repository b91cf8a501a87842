// The caster reached through an HTTP proxy's CONNECT tunnel: the stream byte-exact in the clear
// and over TLS, the sourcetable by the same way, and the proxy's refusals.
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>

#include "base64.h"
#include "client_fixture.h"
#include "replay_caster.h"
#include "sourcetable_fetch.h"
#include "test_certificates.h"

namespace client_test {
namespace {

using boost::asio::ip::tcp;
using tarno::ClientState;
using test_support::Certificates;

constexpr const char* kProxyPassword = "pr0xy-S3cret";

// A tiny CONNECT proxy on loopback: checks Basic credentials when given, answers `refusal`
// instead of opening the tunnel when set, and relays both ways once it is open.
class ConnectProxy {
 public:
  ConnectProxy(std::string user, std::string password, std::string refusal = "")
      : _refusal(std::move(refusal)), _acceptor(_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    if (!user.empty()) tarno::Base64Encode(user + ":" + password, _credential);
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
            if (!e) Answer(tunnel, std::string(boost::asio::buffers_begin(tunnel->head.data()),
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
        request.find("\r\nProxy-Authorization: Basic " + _credential + "\r\n") == std::string::npos) {
      refusal = "HTTP/1.1 407 Proxy Authentication Required\r\n"
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
  std::string _credential;
  boost::asio::io_context _io;
  tcp::acceptor _acceptor;
  mutable std::mutex _mutex;
  std::vector<std::string> _requests;
  std::thread _thread;
};

caster::CasterOptions Served(bool tls) {
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", RandomBytes(20000, 11)}};
  o.rate = 200000;
  if (tls) {
    o.tls_cert_file = Certificates().server_cert;
    o.tls_key_file = Certificates().server_key;
  }
  return o;
}

class ProxyTest : public ClientTest {
 protected:
  std::unique_ptr<tarno::NTRIPClient> ConnectVia(const ConnectProxy& proxy,
                                                 const caster::ReplayCaster& server,
                                                 const std::string& proxy_password = kProxyPassword) {
    tarno::HttpProxy route = tarno::ParseProxy("127.0.0.1:" + proxy.Port());
    route.username = "puser";
    route.password = proxy_password;
    auto client = std::make_unique<tarno::NTRIPClient>("127.0.0.1", std::to_string(server.Port()),
                                                       "RTCM3", kLat, kLon, kAlt, false,
                                                       FastTiming(), route);
    client->SetCredentials("user", "secret");
    if (tls_ca_file) client->SetTls(*tls_ca_file);
    connection_result = ClientState::Error;
    if (client->InitSocket() == ClientState::SocketConnected) {
      connection_result = client->Connection();
    }
    return client;
  }
};

TEST_F(ProxyTest, StreamCrossesTheTunnelByteExactInTheClearAndOverTls) {
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    tls_ca_file.reset();
    if (tls) tls_ca_file = Certificates().authority;
    ConnectProxy proxy("puser", kProxyPassword);
    caster::ReplayCaster server(Served(tls));
    auto client = ConnectVia(proxy, server);
    ASSERT_EQ(connection_result, ClientState::Connected) << client->LastRefusal().text;
    const std::string received = Collect(*client, 15000);
    ASSERT_GE(received.size(), 15000u);
    const std::size_t size = received.size();
    ASSERT_TRUE(server.WaitUntil(
        [size](const auto& c) { return c.Connection(0).served.size() >= size; }, 10s));
    EXPECT_TRUE(received == server.Connection(0).served.substr(0, size));

    const std::string target = "127.0.0.1:" + std::to_string(server.Port());
    std::string credential;
    tarno::Base64Encode(std::string("puser:") + kProxyPassword, credential);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0], "CONNECT " + target + " HTTP/1.1\r\nHost: " + target +
                                       "\r\nProxy-Authorization: Basic " + credential + "\r\n\r\n");
    EXPECT_EQ(server.Connection(0).request.rfind("GET /RTCM3 HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0),
              0u);
    client.reset();
    for (const auto& line : log.Lines()) {
      EXPECT_EQ(line.text.find(kProxyPassword), std::string::npos) << line.text;
      EXPECT_EQ(line.text.find(credential), std::string::npos) << line.text;
    }
  }
}

TEST_F(ProxyTest, SourcetableComesThroughTheSameTunnel) {
  ConnectProxy proxy("", "");
  caster::ReplayCaster server(Served(false));
  tarno::CasterAddress address;
  address.host = "127.0.0.1";
  address.port = std::to_string(server.Port());
  address.proxy = tarno::ParseProxy("127.0.0.1:" + proxy.Port());
  const tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(address);
  ASSERT_EQ(fetched.error, "");
  ASSERT_EQ(fetched.table.streams.size(), 1u);
  EXPECT_EQ(fetched.table.streams[0].mountpoint, "RTCM3");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].find("Proxy-Authorization"), std::string::npos);
}

TEST_F(ProxyTest, ProxyRefusalsAreFailedSetUpsThatSayWhoRefusedWhat) {
  caster::ReplayCaster server(Served(false));
  const std::string caster = "127.0.0.1:" + std::to_string(server.Port());
  {
    ConnectProxy proxy("puser", kProxyPassword);
    auto client = ConnectVia(proxy, server, "wrong");
    EXPECT_EQ(connection_result, ClientState::Error);
    EXPECT_EQ(client->LastRefusal().kind, tarno::Refusal::Kind::Credentials);
    EXPECT_EQ(client->LastRefusal().text,
              "proxy 127.0.0.1:" + proxy.Port() + " refused the user name or password");
  }
  {
    ConnectProxy proxy("", "", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    auto client = ConnectVia(proxy, server);
    EXPECT_EQ(connection_result, ClientState::Error);
    EXPECT_EQ(client->LastRefusal().text, "proxy 127.0.0.1:" + proxy.Port() +
                                              " refused the tunnel to " + caster +
                                              " (HTTP/1.1 403 Forbidden)");
  }
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

}  // namespace
}  // namespace client_test
