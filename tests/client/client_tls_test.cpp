// The caster connection over TLS: the same stream, verification refusals, bounds and a stop.
#include <thread>

#include "client_fixture.h"
#include "replay_caster.h"
#include "throwaway_certificates.h"

namespace client_test {
namespace {

using tarno::ClientState;
using fixtures::Certificates;

caster::CasterOptions TlsCaster(const std::string& cert, const std::string& key) {
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", RandomBytes(30000, 5)}};
  o.rate = 200000;
  o.tls_cert_file = cert;
  o.tls_key_file = key;
  return o;
}

std::string Port(const caster::ReplayCaster& c) {
  return std::to_string(c.Port());
}

class TlsTest : public ClientTest {
 protected:
  TlsTest() { tls_ca_file = Certificates().authority; }

  // A warning naming the reason and the subject, once, and no request sent in the clear.
  void ExpectRefusal(const caster::ReplayCaster& server, const std::string& reason) {
    EXPECT_EQ(connection_result, ClientState::Error);
    std::size_t warnings = 0;
    for (const auto& line : log.Lines()) {
      if (line.text.rfind("TLS verification of 127.0.0.1 failed: ", 0) != 0) continue;
      ++warnings;
      EXPECT_EQ(line.text, "TLS verification of 127.0.0.1 failed: " + reason);
      EXPECT_EQ(line.importance, static_cast<int>(tarno::Importance::Warning));
    }
    EXPECT_EQ(warnings, 1u);
    EXPECT_EQ(server.Connection(0).request, "");
  }
};

TEST_F(TlsTest, StreamAndGgaUpdatesCrossTlsByteExactWithTheTestAuthorityFile) {
  caster::ReplayCaster server(TlsCaster(Certificates().server_cert, Certificates().server_key));
  auto timing = FastTiming();
  timing.gga_period = 20ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  ASSERT_EQ(connection_result, ClientState::Connected);
  const std::string received = Collect(*client, 20000);
  ASSERT_GE(received.size(), 20000u);
  // A write is recorded once it completed: the client may have read it a moment before.
  const std::size_t size = received.size();
  ASSERT_TRUE(server.WaitUntil(
      [size](const auto& c) { return c.Connection(0).served.size() >= size; }, 10s));
  // The first updates fall due while the handshake may still run: they must not be lost.
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).gga.size() >= 3; }, 10s));
  const caster::ConnectionRecord record = server.Connection(0);
  EXPECT_TRUE(received == record.served.substr(0, received.size()));
  EXPECT_EQ(record.request.rfind("GET /RTCM3 HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0), 0u);
  EXPECT_EQ(record.gga[1], record.gga[0]);  // the pinned clock: every update is the same sentence
}

TEST_F(TlsTest, CertificateForAnotherNameIsRefused) {
  caster::ReplayCaster server(TlsCaster(Certificates().other_cert, Certificates().other_key));
  auto client = Connect(Port(server));
  ExpectRefusal(server, "IP address mismatch (certificate subject: CN=other.example)");
}

TEST_F(TlsTest, ChainTheSystemStoreDoesNotTrustIsRefused) {
  caster::ReplayCaster server(TlsCaster(Certificates().server_cert, Certificates().server_key));
  tls_ca_file = "";
  auto client = Connect(Port(server));
  ExpectRefusal(server,
                "unable to get local issuer certificate (certificate subject: CN=127.0.0.1)");
}

// A plain caster reads the client's hello as the start of a request and never answers it.
TEST_F(TlsTest, HandshakeThatNeverFinishesEndsAtTheBound) {
  caster::ReplayCaster server(TlsCaster("", ""));
  auto timing = FastTiming();
  timing.connect_bound = 200ms;
  auto client = Connect(Port(server), "RTCM3", timing);
  EXPECT_EQ(connection_result, ClientState::Error);
  EXPECT_TRUE(log.Contains("Error occured !Connection timed out"));
  EXPECT_FALSE(server.Connection(0).received.empty());
}

TEST_F(TlsTest, CloseDuringTheHandshakeEndsItAtOnce) {
  caster::ReplayCaster server(TlsCaster("", ""));
  auto timing = FastTiming();
  timing.connect_bound = 60s;  // far beyond the test's own bound: only the close can end it
  tarno::NTRIPClient client("127.0.0.1", Port(server), "RTCM3", kLat, kLon, kAlt, false, timing);
  client.SetTls(Certificates().authority);
  ClientState result = ClientState::Disconnected;
  std::thread connecting([&] { result = client.InitSocket(); });
  const bool hello =
      server.WaitUntil([](const auto& c) { return !c.Connection(0).received.empty(); }, 10s);
  client.CloseConnection();
  connecting.join();
  ASSERT_TRUE(hello);
  EXPECT_EQ(result, ClientState::Error);
  EXPECT_TRUE(log.Contains("Error occured !Operation canceled"));
}

}  // namespace
}  // namespace client_test
