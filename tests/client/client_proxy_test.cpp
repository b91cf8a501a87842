// The caster reached through an HTTP proxy's CONNECT tunnel: the stream byte-exact in the clear
// and over TLS, the sourcetable by the same way, and the proxy's refusals.
#include <string>

#include "base64.h"
#include "client_fixture.h"
#include "connect_proxy.h"
#include "replay_caster.h"
#include "sourcetable_fetch.h"
#include "throwaway_certificates.h"

namespace client_test {
namespace {

using tarno::ClientState;
using fixtures::Certificates;
using test_support::ConnectProxy;

constexpr const char* kProxyPassword = "pr0xy-S3cret";

std::string ProxyCredential() {
  std::string credential;
  tarno::Base64Encode(std::string("puser:") + kProxyPassword, credential);
  return credential;
}

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
  std::unique_ptr<tarno::NTRIPClient> ConnectVia(
      const ConnectProxy& proxy, const caster::ReplayCaster& server,
      const std::string& proxy_password = kProxyPassword) {
    tarno::HttpProxy route = tarno::ParseProxy("127.0.0.1:" + proxy.Port());
    route.username = "puser";
    route.password = proxy_password;
    auto client =
        std::make_unique<tarno::NTRIPClient>("127.0.0.1", std::to_string(server.Port()), "RTCM3",
                                             kLat, kLon, kAlt, false, FastTiming(), route);
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
    ConnectProxy proxy(ProxyCredential());
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
  ConnectProxy proxy("");
  caster::ReplayCaster server(Served(false));
  tarno::CasterAddress address;
  address.host = "127.0.0.1";
  address.port = std::to_string(server.Port());
  address.proxy = tarno::ParseProxy("127.0.0.1:" + proxy.Port());
  const tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(address);
  ASSERT_EQ(fetched.refusal.text, "");
  ASSERT_EQ(fetched.table.streams.size(), 1u);
  EXPECT_EQ(fetched.table.streams[0].mountpoint, "RTCM3");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].find("Proxy-Authorization"), std::string::npos);
}

TEST_F(ProxyTest, ProxyRefusalsAreFailedSetUpsThatSayWhoRefusedWhat) {
  caster::ReplayCaster server(Served(false));
  const std::string caster = "127.0.0.1:" + std::to_string(server.Port());
  {
    ConnectProxy proxy(ProxyCredential());
    auto client = ConnectVia(proxy, server, "wrong");
    EXPECT_EQ(connection_result, ClientState::Error);
    EXPECT_EQ(client->LastRefusal().kind, tarno::Refusal::Kind::Credentials);
    EXPECT_EQ(client->LastRefusal().text,
              "proxy 127.0.0.1:" + proxy.Port() + " refused the user name or password");
  }
  {
    ConnectProxy proxy("", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
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
