// Casters of other kinds and other ways to them through the real package: a caster that takes
// NTRIP 1.0 requests only, a caster behind an HTTP proxy, and settings refused before anything
// connects.
#include <gtest/gtest.h>

#include "component_fixture.h"
#include "connect_proxy.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "scratch_directory.h"
#endif

using namespace component_test;

TEST(ComponentCasterKinds, CasterThatRefusesNtrip2GetsTheNtrip1RequestAtOnceAndKeepsGettingIt) {
  caster::CasterOptions caster = ServeRecording("pygpsdata-RTCM3.log");
  caster.fault.mode = caster::FaultMode::Ntrip1Only;
  caster.max_bytes = 3000;  // each stream ends: the rebuilt client must ask in 1.0 again
  ComponentHarness h(std::move(caster));
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.ServingConnections() >= 2; }, 30s));
  h.Stop();

  const caster::ConnectionRecord refused = h.Caster().Connection(0);
  EXPECT_EQ(refused.request.rfind("GET /RTCM3 HTTP/1.1\r\n", 0), 0u) << refused.request;
  // Exactly these bytes: no Host, no Ntrip-Version, no Ntrip-GGA.
  const std::string expected =
      "GET /RTCM3 HTTP/1.0\r\n"
      "User-Agent: NTRIP NTRIP_Client/1.0\r\n"
      "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"
      "\r\n";
  for (std::size_t i = 1; i < h.Connections(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(h.Caster().Connection(i).request, expected);
  }
  // The first sentence follows the caster's answer in the stream.
  ASSERT_FALSE(h.Caster().Connection(1).gga.empty());
  EXPECT_EQ(h.Caster().Connection(1).gga.front().rfind("$GPGGA", 0), 0u);
  EXPECT_GE(h.CountInfo("connected to 127.0.0.1:" + std::to_string(h.Caster().Port()) +
                        "/RTCM3 (NTRIP 1.0)"),
            2u);
  // The 400 is the caster's way to say "1.0": no warning of it, and the stream came whole.
  for (const std::string& warning : h.Reports().Texts(MAPS::ReportKind::Warning)) {
    EXPECT_EQ(warning.find("400"), std::string::npos) << warning;
  }
  EXPECT_GT(h.Raw().Bytes().size(), 3000u);
  const std::string raw = h.Raw().Bytes();
  EXPECT_TRUE(h.ServedBytes().compare(0, raw.size(), raw) == 0);
}

// A FIFO is refused by its kind: opening it would wait for a writer and hold the host's stop.
TEST(ComponentCasterKinds, UnreadableCaFileIsOneErrorAndNoConnection) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"/nonexistent/ca.pem", "it cannot be read: No such file or directory"}};
#ifndef _WIN32
  test_support::ScratchDirectory scratch("ca");
  const std::string fifo = (scratch.Path() / "ca.pem").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  cases.emplace_back(fifo, "it is not a regular file");
#endif
  for (const auto& [path, reason] : cases) {
    ComponentOptions options;
    options.properties = {{"tls", "true"}, {"tls_ca_file", path}};
    ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
    h.Start();
    const std::string error = "tls_ca_file \"" + path + "\" is refused: " + reason;
    ASSERT_TRUE(h.Reports().WaitFor([&](const maps_host::Report& r) { return r.text == error; }))
        << error;
    // Samples keep coming (the host reads them) but none builds a client.
    ASSERT_TRUE(Eventually([&] { return h.CountInfo("first_time_process Start") >= 5; }));
    h.Stop();
    EXPECT_EQ(h.Connections(), 0u);
    // Said at start, not at every sample: the report and, with the Console destination, its log
    // line.
    const auto errors = h.Reports().Texts(MAPS::ReportKind::Error);
    EXPECT_GE(errors.size(), 1u);
    EXPECT_LE(errors.size(), 2u);
    for (const std::string& text : errors) EXPECT_EQ(text, error);
  }
}

TEST(ComponentCasterKinds, ProxyPropertiesOpenTheTunnelAndItsRefusalIsOneWarning) {
  // Base64 of "puser:pr0xy-S3cret".
  test_support::ConnectProxy proxy("cHVzZXI6cHIweHktUzNjcmV0");
  ComponentOptions options;
  options.properties = {{"proxy", "127.0.0.1:" + proxy.Port()},
                        {"proxy_username", "puser"},
                        {"proxy_password", "pr0xy-S3cret"}};
  {
    ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
    h.Start();
    ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 3000; }));
    h.Stop();
    const std::string caster = "127.0.0.1:" + std::to_string(h.Caster().Port());
    ASSERT_FALSE(proxy.Requests().empty());
    EXPECT_EQ(proxy.Requests()[0].rfind("CONNECT " + caster + " HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(h.Reports().Has(MAPS::ReportKind::Information,
                                "connected to " + caster + "/RTCM3 through proxy 127.0.0.1:" +
                                    proxy.Port() + " (NTRIP 2.0, chunked)"));
    const std::string raw = h.Raw().Bytes();
    EXPECT_TRUE(h.ServedBytes().compare(0, raw.size(), raw) == 0);
  }

  options.properties.back().second = "wrong";
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
  const std::size_t before = proxy.Requests().size();
  h.Start();
  // Spaced retries, one warning.
  ASSERT_TRUE(Eventually([&] { return proxy.Requests().size() >= before + 3; }, 30s));
  h.Stop();
  const std::string refusal =
      "proxy 127.0.0.1:" + proxy.Port() + " refused the user name or password";
  const auto warnings = h.Reports().Texts(MAPS::ReportKind::Warning);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), refusal), 1);
  EXPECT_EQ(h.Connections(), 0u);
}
