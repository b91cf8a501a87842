// Figures, not assertions on durations: 1 MiB served as fast as the caster can write it must
// arrive byte-exact; the time it took and the delay from each caster write to the chunk's
// arrival in the queue are printed.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "client_fixture.h"
#include "replay_caster.h"

namespace client_test {
namespace {

using Clock = std::chrono::steady_clock;

struct Arrival {
  std::size_t end_offset;
  Clock::time_point when;
};

// Reads chunks until `size` bytes came (or a read found nothing), noting when each arrived.
std::string ReadWithArrivals(tarno::NTRIPClient& client, std::size_t size,
                             std::vector<Arrival>& arrivals) {
  std::string received;
  while (received.size() < size) {
    const std::string chunk = client.ReadRTCMBuffer();
    const auto now = Clock::now();
    if (chunk.empty()) break;
    received += chunk;
    arrivals.push_back({received.size(), now});
  }
  return received;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Delay of each caster write until the chunk holding its last byte was in the queue, sorted.
std::vector<double> SortedDelays(const caster::ConnectionRecord& record,
                                 const std::vector<Arrival>& arrivals) {
  std::vector<double> delays;
  std::size_t a = 0;
  for (const auto& mark : record.writes) {
    while (a < arrivals.size() && arrivals[a].end_offset < mark.end_offset) ++a;
    if (a == arrivals.size()) break;
    delays.push_back(Milliseconds(arrivals[a].when - mark.when));
  }
  std::sort(delays.begin(), delays.end());
  return delays;
}

using MeasureTest = ClientTest;

TEST_F(MeasureTest, OneMebibyteAtFullSpeedArrivesByteExact) {
  constexpr std::size_t kSize = 1 << 20;
  for (const bool chunked : {true, false}) {
    caster::CasterOptions o;
    o.mounts = {{"RTCM3", RandomBytes(kSize, 42)}};
    o.rate = 0;
    o.chunked = chunked;
    o.max_bytes = kSize;
    caster::ReplayCaster server(o);
    tarno::ActiveLogWriter = tarno::WriteLogNowhere;  // a line per read would be the figure
    auto client = Connect(std::to_string(server.Port()));
    ASSERT_GE(connection_result, tarno::ClientState::Connected);

    std::vector<Arrival> arrivals;
    const std::string received = ReadWithArrivals(*client, kSize, arrivals);
    ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 10s));
    const caster::ConnectionRecord record = server.Connection(0);
    ASSERT_EQ(received.size(), kSize);
    EXPECT_TRUE(received == record.served);
    ASSERT_FALSE(record.writes.empty());

    const std::vector<double> delays = SortedDelays(record, arrivals);
    const double total = Milliseconds(arrivals.back().when - record.writes.front().when);
    std::printf(
        "[measure] %s: 1 MiB in %.1f ms (%.1f MB/s), %zu chunks; caster write to queue: median "
        "%.3f ms, p99 %.3f ms, max %.3f ms\n",
        chunked ? "chunked" : "plain", total, kSize / total / 1000.0, arrivals.size(),
        delays[delays.size() / 2], delays[delays.size() * 99 / 100], delays.back());
    client.reset();
  }
}

TEST_F(MeasureTest, PacedStreamAddsNoDelayWorthNaming) {
  // 200 kB/s, well above what a pause of one second per 2048-byte read could carry.
  constexpr std::size_t kSize = 200'000;
  caster::CasterOptions o;
  o.mounts = {{"RTCM3", RandomBytes(kSize, 43)}};
  o.rate = 200'000;
  o.chunked = true;
  o.max_bytes = kSize;
  caster::ReplayCaster server(o);
  tarno::ActiveLogWriter = tarno::WriteLogNowhere;
  auto client = Connect(std::to_string(server.Port()));
  ASSERT_GE(connection_result, tarno::ClientState::Connected);

  std::vector<Arrival> arrivals;
  const std::string received = ReadWithArrivals(*client, kSize, arrivals);
  ASSERT_TRUE(server.WaitUntil([](const auto& c) { return c.Connection(0).closed; }, 10s));
  const caster::ConnectionRecord record = server.Connection(0);
  ASSERT_EQ(received.size(), kSize);
  EXPECT_TRUE(received == record.served);

  const std::vector<double> delays = SortedDelays(record, arrivals);
  std::printf(
      "[measure] paced 200 kB/s: %zu writes, %zu chunks; caster write to queue: median %.3f ms, "
      "p99 %.3f ms, max %.3f ms\n",
      record.writes.size(), arrivals.size(), delays[delays.size() / 2],
      delays[delays.size() * 99 / 100], delays.back());
}

}  // namespace
}  // namespace client_test
