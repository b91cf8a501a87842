// The component end to end: connection, raw and decoded outputs, rebuild after a caster drop.
#include <gtest/gtest.h>

#include "component_fixture.h"
#include "obs_frames.h"

using namespace component_test;

namespace {

bool IsPrefix(const std::string& prefix, const std::string& whole) {
  return prefix.size() <= whole.size() && whole.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(ComponentStream, FirstSampleConnectsAndPublishesTheStreamByteExact) {
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"));
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 6000; }));
  ASSERT_TRUE(h.Decoded().WaitUntil([](const OutputLog& l) {
    return l.Bytes().find("GPS satellite PRN: 5 L1: ") != std::string::npos;
  }));
  h.Stop();
  EXPECT_TRUE(IsPrefix(h.Raw().Bytes(), h.ServedBytes()));
  for (const auto& element : h.Raw().Elements()) {
    EXPECT_GE(element.size(), 1u);
    EXPECT_LE(element.size(), 2048u);
  }
  EXPECT_NE(h.Decoded().Bytes().find("Station id: 0\n"), std::string::npos);
  EXPECT_TRUE(h.Reports().Has(MAPS::ReportKind::Information,
                              "Connecting to 127.0.0.1:" + std::to_string(h.Caster().Port())));
  EXPECT_EQ(h.CountInfo("WriteRTCMBuffer Start"), 1u);
  EXPECT_EQ(h.CountInfo("WriteDecodedRTCMBuffer Start"), 1u);
  EXPECT_EQ(h.Connections(), 1u);
}

TEST(ComponentStream, DecodingOffStartsOnlyTheRawWriter) {
  ComponentOptions options;
  options.decode = false;
  ComponentHarness h(ServeRecording("pygpsdata-RTCM3.log"), options);
  h.Start();
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 3000; }));
  h.Stop();
  EXPECT_TRUE(h.Decoded().Elements().empty());
  EXPECT_EQ(h.CountInfo("WriteRTCMBuffer Start"), 1u);
  EXPECT_EQ(h.CountInfo("WriteDecodedRTCMBuffer Start"), 0u);
}

TEST(ComponentStream, CasterDropRebuildsTheClientAndTheStreamStaysByteExact) {
  auto options = ServeRecording("pygpsdata-RTCM3.log");
  options.max_bytes = 3000;  // every connection ends after 3000 stream bytes
  ComponentHarness h(options);
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.ServingConnections() >= 3; }, 20s));
  ASSERT_TRUE(h.Raw().WaitUntil([](const OutputLog& l) { return l.Bytes().size() >= 6000; }));
  h.Stop();
  // Across rebuilds: what each connection served, in order, and nothing else.
  EXPECT_TRUE(IsPrefix(h.Raw().Bytes(), h.ServedBytes()));
  EXPECT_GE(h.CountInfo("Socket State is below Connected => Restart the socket"), 2u);
  for (const auto& text : h.Reports().Texts(MAPS::ReportKind::Warning))
    EXPECT_EQ(text, "ReceiveRTCM is waiting the socket to connect");
}

TEST(ComponentStream, DropsInARowAreEachRebuiltPromptlyOnTheRealClock) {
  // One sample a second and reader waits of 2 s, as in production; each connection ends after
  // 600 bytes, so the writers sit in their reads whenever the loss is noticed. (Links that end
  // below 512 bytes are failed set-ups, spaced on purpose; so are short links after the third
  // in a row, which is why there are three.)
  constexpr std::size_t kBytes = 600;
  auto caster_options = ServeRecording("pygpsdata-NTRIP-4076.log");
  caster_options.fault = {caster::FaultMode::CloseAfter, kBytes, ""};
  ComponentOptions options;
  options.sampling_scale = 1.0;
  ComponentHarness h(caster_options, options);
  h.Start();
  constexpr std::size_t kConnections = 3;
  for (std::size_t i = 0; i < kConnections; ++i) {
    // From the moment the previous connection was seen complete (and so closed by the caster).
    ASSERT_TRUE(h.Caster().WaitUntil(
        [i](const caster::ReplayCaster& c) { return c.Connection(i).served_bytes == kBytes; },
        i == 0 ? 10s : 3s))
        << "connection " << i + 1 << " did not follow the drop of the one before within 3 s";
  }
  ASSERT_TRUE(h.Raw().WaitUntil(
      [&](const OutputLog& l) { return l.Bytes().size() >= kBytes * kConnections; }, 3s));
  // Writers waiting in their reads are woken at once: by a rebuild and by the host's stop.
  const auto starts = h.Reports().Arrivals("EmergencyStopThreads Start");
  const auto ends = h.Reports().Arrivals("EmergencyStopThreads End");
  ASSERT_GE(ends.size(), kConnections - 1);
  for (std::size_t i = 0; i < ends.size(); ++i) EXPECT_LT(ends[i] - starts[i], 1s) << "drop " << i;
  EXPECT_LT(h.Stop(), 1s);
  EXPECT_TRUE(IsPrefix(h.Raw().Bytes(), h.ServedBytes()));
  EXPECT_GE(h.Raw().Bytes().size(), kBytes * kConnections);
}

TEST(ComponentStream, BytesQueuedWhenTheCasterHangsUpStillComeOutBeforeTheRebuild) {
  // The caster sends 1.5 MB at full speed and hangs up; the output takes a millisecond per
  // element, so most of the stream is still queued in the client when it is dropped.
  auto caster_options = ServeRecording("pygpsdata-RTCM3.log", 0);
  caster_options.max_bytes = 1500000;
  ComponentOptions options;
  options.decode = false;
  options.raw_consumer_delay = std::chrono::milliseconds(1);
  ComponentHarness h(caster_options, options);
  h.Start();
  ASSERT_TRUE(Eventually([&] { return h.ServingConnections() >= 2; }, 30s));
  const std::string first = h.Caster().Connection(0).served;
  ASSERT_EQ(first.size(), 1500000u);
  ASSERT_TRUE(
      h.Raw().WaitUntil([&](const OutputLog& l) { return l.Bytes().size() > first.size(); }, 30s));
  h.Stop();
  EXPECT_TRUE(IsPrefix(first, h.Raw().Bytes()));
  EXPECT_TRUE(IsPrefix(h.Raw().Bytes(), h.ServedBytes()));
}

TEST(ComponentStream, LongSummaryGoesOutAsWholeLinesInElementsOfAtMost2048Bytes) {
  // One GPS MSM 7 epoch with 32 satellites prints about 2.8 kB of summary.
  obs_test::MsmMessage m;
  m.staid = 77;
  for (int id = 1; id <= 32; ++id) m.sats.push_back({.id = id, .whole_ms = 70, .modulo = 100});
  m.signals = {2, 16};
  std::string stream;
  for (int epoch = 0; epoch < 4; ++epoch) {
    m.epoch_ms = obs_test::kTowMs + 1000 * epoch;
    const auto frame = obs_test::MsmFrame(rtcm::SYS_GPS, 7, m);
    stream.append(frame.begin(), frame.end());
  }
  caster::CasterOptions o;
  o.mounts.push_back({"RTCM3", stream});
  o.rate = 8000;
  ComponentHarness h(o);
  h.Start();
  ASSERT_TRUE(h.Decoded().WaitUntil([](const OutputLog& l) {
    const std::string all = l.Bytes();
    return std::count(all.begin(), all.end(), '\n') >= 66;
  }));
  h.Stop();
  const auto elements = h.Decoded().Elements();
  ASSERT_GE(elements.size(), 2u);
  for (const auto& e : elements) {
    EXPECT_LE(e.size(), 2048u);
    EXPECT_EQ(e.back(), '\n');
  }
  const std::string all = h.Decoded().Bytes();
  const auto first_block = all.substr(0, all.find("Station id: 77\n", 1));
  EXPECT_EQ(std::count(first_block.begin(), first_block.end(), '\n'), 33);
  EXPECT_NE(all.find("GPS satellite PRN: 32 L1: "), std::string::npos);
}
