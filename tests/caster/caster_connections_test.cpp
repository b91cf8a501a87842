// Connections: what the caster records, GGA collection, pacing, many clients, limits and Stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "caster_fixture.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm_frames.h"
#include "test_client.h"

namespace caster_test {
namespace {

using caster::ConnectionRecord;
using caster::ReplayCaster;

bool HasGga(const ReplayCaster& s, std::size_t n) {
  return s.ConnectionCount() > 0 && s.Connection(0).gga.size() >= n;
}

TEST(CasterRecords, RequestAndGgaFromHeaderAndLaterUpdatesAreRecordedAndLogged) {
  const auto log_path = std::filesystem::temp_directory_path() /
                        ("caster-gga-" + std::to_string(::getpid()) + ".log");
  std::filesystem::remove(log_path);
  auto options = FastOptions();
  options.rate = -1;  // keep the stream slow: the test is about what the client sends
  options.gga_log_path = log_path.string();
  ReplayCaster server(options);
  TestClient client(server.Port());
  const std::string request = ClientRequest("RTCM3", "Og==");
  client.Send(request);
  ASSERT_TRUE(server.WaitUntil([](const ReplayCaster& s) { return HasGga(s, 1); }, 5s));
  client.Send("Ntrip-GGA:" + kGga2 + "\r\n\r\n");
  ASSERT_TRUE(server.WaitUntil([](const ReplayCaster& s) { return HasGga(s, 2); }, 5s));
  // An update split over two writes is still one sentence; a bare sentence counts too.
  client.Send("Ntrip-GGA:" + kGga1.substr(0, 20));
  client.Send(kGga1.substr(20) + "\r\n\r\n" + kGga2 + "\r\n");
  ASSERT_TRUE(server.WaitUntil([](const ReplayCaster& s) { return HasGga(s, 4); }, 5s));

  const ConnectionRecord record = server.Connection(0);
  EXPECT_EQ(record.request, request);
  EXPECT_EQ(record.gga, (std::vector<std::string>{kGga1, kGga2, kGga1, kGga2}));
  EXPECT_TRUE(record.received.starts_with(request));
  EXPECT_TRUE(record.peer.starts_with("127.0.0.1:"));

  server.Stop();
  std::ifstream log(log_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_NE(lines[0].find(" header " + kGga1), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" connection " + kGga2), std::string::npos) << lines[1];
  EXPECT_TRUE(lines[0].ends_with(kGga1));
  std::filesystem::remove(log_path);
}

TEST(CasterRecords, TwoClientsAtOnceAreEachServedTheWholeRecording) {
  const std::string recording = Recording();
  auto options = FastOptions();
  options.max_bytes = 3 * recording.size();
  ReplayCaster server(options);
  TestClient first(server.Port());
  TestClient second(server.Port());
  first.Send(V1Request("/RTCM3"));
  second.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(first.ReadToEnd());
  ASSERT_TRUE(second.ReadToEnd());
  bool complete = false, malformed = false;
  EXPECT_EQ(first.Data().substr(14), Looped(recording, options.max_bytes));
  EXPECT_EQ(DecodeChunked(BodyOf(second.Data()), &complete, &malformed),
            Looped(recording, options.max_bytes));
  ASSERT_EQ(server.ConnectionCount(), 2U);
  EXPECT_EQ(server.Connection(0).served, server.Connection(1).served);
}

TEST(CasterRecords, WriteMarksAccountForEveryServedByteInOrder) {
  auto options = FastOptions();
  options.max_bytes = 100000;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  ASSERT_TRUE(server.WaitUntil([](const ReplayCaster& s) { return s.Connection(0).closed; }, 5s));
  const ConnectionRecord record = server.Connection(0);
  ASSERT_FALSE(record.writes.empty());
  EXPECT_EQ(record.writes.back().end_offset, record.served.size());
  EXPECT_EQ(record.served_bytes, record.served.size());
  for (std::size_t i = 1; i < record.writes.size(); ++i) {
    EXPECT_LT(record.writes[i - 1].end_offset, record.writes[i].end_offset);
    EXPECT_LE(record.writes[i - 1].when, record.writes[i].when);
  }
}

TEST(CasterPacing, DefaultPacingWritesWholeFramesOnly) {
  caster::CasterOptions options;
  const std::string recording = caster::ReadFileBytes(DataFile("pygpsdata-RTCMMSM3.log"));
  options.mounts.push_back({"MSM3", recording});
  options.max_bytes = recording.size();
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/MSM3"));
  ASSERT_TRUE(client.ReadToEnd());
  const auto ends = caster::FrameUnitEnds(recording);
  ASSERT_EQ(ends.size(), 3U);  // three MSM frames
  const ConnectionRecord record = server.Connection(0);
  std::vector<std::size_t> offsets;
  for (const auto& mark : record.writes) offsets.push_back(mark.end_offset);
  EXPECT_EQ(offsets, ends);
  EXPECT_EQ(record.served, recording);
  const double seconds =
      std::chrono::duration<double>(record.writes.back().when - record.writes.front().when).count();
  std::printf("default pacing: %zu bytes in %zu writes over %.3f s\n", record.served.size(),
              record.writes.size(), seconds);
}

TEST(CasterPacing, GivenRateSendsSmallPiecesSpreadOverTime) {
  auto options = FastOptions();
  options.rate = 10;  // one byte every 100 ms
  options.max_bytes = 3;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  const ConnectionRecord record = server.Connection(0);
  ASSERT_EQ(record.writes.size(), 3U);
  EXPECT_EQ(record.served, Recording().substr(0, 3));
  EXPECT_GT(record.writes[2].when, record.writes[0].when);
}

TEST(CasterPacing, RateZeroServesOneMebibyteQuickly) {
  auto options = FastOptions();
  options.max_bytes = 1 << 20;
  options.chunked = false;
  ReplayCaster server(options);
  TestClient client(server.Port());
  const auto start = std::chrono::steady_clock::now();
  client.Send(V2Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd(30s));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(BodyOf(client.Data()), Looped(Recording(), 1 << 20));
  std::printf("rate 0: 1 MiB in %.3f s (%.1f MiB/s)\n", seconds, 1.0 / seconds);
}

TEST(CasterListening, ServesOverIpv6Loopback) {
  auto options = FastOptions();
  options.listen_address = "::1";
  options.max_bytes = 500;
  std::unique_ptr<ReplayCaster> server;
  try {
    server = std::make_unique<ReplayCaster>(options);
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  TestClient client("::1", server->Port());
  client.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(client.ReadToEnd());
  bool complete = false, malformed = false;
  EXPECT_EQ(DecodeChunked(BodyOf(client.Data()), &complete, &malformed),
            Recording().substr(0, 500));
  EXPECT_TRUE(server->Connection(0).peer.starts_with("[::1]:"));
}

TEST(CasterListening, BindingABusyPortThrows) {
  ReplayCaster first(FastOptions());
  auto options = FastOptions();
  options.port = first.Port();
  EXPECT_ANY_THROW(ReplayCaster second(options));
}

TEST(CasterLimits, OversizedRequestIsDroppedWithoutAnswer) {
  ReplayCaster server(FastOptions());
  TestClient client(server.Port());
  client.Send("GET /RTCM3 HTTP/1.1\r\nX-Long: " + std::string(17 * 1024, 'a'));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_TRUE(client.Data().empty());
}

TEST(CasterLimits, SilentClientIsDroppedAfterTheRequestBound) {
  auto options = FastOptions();
  options.request_timeout = std::chrono::milliseconds(200);
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send("GET /RTCM3 HTTP/1.1\r\n");
  ASSERT_TRUE(client.ReadToEnd(5s));
  EXPECT_TRUE(client.Data().empty());
  EXPECT_TRUE(server.Connection(0).request.empty());
}

TEST(CasterStop, StopWithClientsConnectedEndsEveryConnection) {
  auto options = FastOptions();
  options.rate = -1;
  auto server = std::make_unique<ReplayCaster>(options);
  TestClient streaming(server->Port());
  streaming.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(streaming.ReadContaining("\r\n\r\n"));
  TestClient half(server->Port());
  half.Send("GET /RTCM3 HTTP/1.1\r\n");
  ASSERT_TRUE(
      server->WaitUntil([](const ReplayCaster& s) { return s.ConnectionCount() == 2; }, 5s));
  server->Stop();
  server->Stop();  // idempotent
  EXPECT_TRUE(server->Connection(0).closed);
  EXPECT_TRUE(server->Connection(1).closed);
  EXPECT_TRUE(streaming.ReadToEnd());
  EXPECT_TRUE(half.ReadToEnd());
  server.reset();
}

TEST(CasterStop, WaitUntilReturnsFalseWhenTheDeadlinePasses) {
  ReplayCaster server(FastOptions());
  EXPECT_TRUE(server.Connection(7).request.empty());  // not accepted yet: an empty record
  EXPECT_FALSE(server.WaitUntil([](const ReplayCaster& s) { return s.ConnectionCount() > 0; },
                                std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace caster_test

namespace caster_test {
namespace {

TEST(CasterLiveTime, EveryObservationEpochIsNowInItsOwnScaleAndEveryCrcStaysRight) {
  auto options = FastOptions();
  options.live_time = true;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  const std::string recording = Recording();
  ASSERT_TRUE(client.ReadAtLeast(14 + 2 * recording.size()));
  const std::string served = client.Data().substr(14, 2 * recording.size());
  // Same frames, same lengths: only the epoch fields and the CRCs differ.
  EXPECT_EQ(caster::FrameUnitEnds(served), caster::FrameUnitEnds(recording + recording));
  EXPECT_NE(served.substr(0, recording.size()), recording);

  // The decoder resolves each system's epoch in its own scale (GPS, GLONASS, Galileo, QZSS,
  // BeiDou in this recording); each must be the present.
  auto dec = std::make_unique<rtcm::RtcmDecoder>();
  ASSERT_EQ(rtcm::init_rtcm(dec.get()), 1);
  int epochs = 0;
  for (const char byte : served) {
    const int result = rtcm::input_rtcm3(dec.get(), static_cast<uint8_t>(byte));
    if (!dec->frame_decoded) continue;
    const int type = static_cast<int>(rtcm::bits_unsigned(dec->frame, 24, 12));
    if (type < 1071 || type > 1127) continue;
    EXPECT_GE(result, 0) << type;
    EXPECT_LT(std::abs(rtcm::time_diff(dec->time, rtcm::current_gps_time())), 3.0) << type;
    ++epochs;
  }
  EXPECT_GE(epochs, 10);
  rtcm::free_rtcm(dec.get());
}

}  // namespace
}  // namespace caster_test
