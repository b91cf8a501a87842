// The fast paths of the decoder against their one-byte-at-a-time references: block input
// against input_rtcm3, the sliced CRC against a bitwise CRC, the loaded bit reader against
// bits_unsigned, and the hand-built summary text against printf.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rtcm/frame.h"
#include "rtcm/summary.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;

const UtcClock kClock = [] { return GnssTime{1709210096, 0.0}; };  // 2024-02-29

struct DecoderDeleter {
  void operator()(RtcmDecoder* dec) const {
    free_rtcm(dec);
    delete dec;
  }
};
using DecoderPtr = std::unique_ptr<RtcmDecoder, DecoderDeleter>;

DecoderPtr NewDecoder() {
  DecoderPtr dec(new RtcmDecoder);
  dec->utc_clock = kClock;
  EXPECT_EQ(init_rtcm(dec.get()), 1);
  return dec;
}

// MSM 7 of the given type, nsat satellites and the signals given, every cell set.
std::vector<uint8_t> Msm7(int type, uint32_t tow_ms, bool last, int nsat,
                          const std::vector<int>& signals) {
  BitWriter w;
  w.Unsigned(1234, 12).Unsigned(tow_ms, 30).Unsigned(last ? 0 : 1, 1);
  w.Unsigned(0, 3).Unsigned(0, 7).Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  uint64_t sat_mask = 0;
  for (int s = 1; s <= nsat; ++s) sat_mask |= uint64_t{1} << (64 - s);
  w.Unsigned(sat_mask, 64);
  uint32_t sig_mask = 0;
  for (int id : signals) sig_mask |= 1u << (32 - id);
  w.Unsigned(sig_mask, 32);
  const int ncell = nsat * static_cast<int>(signals.size());
  for (int c = 0; c < ncell; ++c) w.Unsigned(1, 1);
  for (int s = 0; s < nsat; ++s) w.Unsigned(s == 3 ? 255 : 70 + s, 8);
  for (int s = 0; s < nsat; ++s) w.Unsigned(s == 1 ? 3 : 7, 4);
  for (int s = 0; s < nsat; ++s) w.Unsigned(100 + s, 10);
  for (int s = 0; s < nsat; ++s) w.Signed(s == 2 ? -8192 : -300 + s, 14);
  for (int c = 0; c < ncell; ++c) w.Signed(c == 5 ? -524288 : 1000 * c, 20);
  for (int c = 0; c < ncell; ++c) w.Signed(2000 * c - 7, 24);
  for (int c = 0; c < ncell; ++c) w.Unsigned((tow_ms / 1000 + c) % 7 == 0 ? 0 : 500, 10);
  for (int c = 0; c < ncell; ++c) w.Unsigned(c % 3 == 0 ? 1 : 0, 1);
  for (int c = 0; c < ncell; ++c) w.Unsigned(700 + c, 10);
  for (int c = 0; c < ncell; ++c) w.Signed(-50 * c, 15);
  return fixtures::FrameOf(type, w);
}

std::string SyntheticStream() {
  std::string all;
  for (uint32_t tow = 100000; tow < 140000; tow += 1000) {
    all += fixtures::AsString(Msm7(1077, tow, false, 10, {2, 3, 10, 16, 24}));
    all += fixtures::AsString(Msm7(1087, tow, false, 8, {2, 9}));
    all += fixtures::AsString(Msm7(1107, tow, true, 4, {2, 24}));
    all += fixtures::AsString(fixtures::FrameOfLength(1029, 1023));  // the longest frame
    all += fixtures::AsString(fixtures::WrapFrame({}, 0x3F));        // empty, reserved bits set
  }
  return all;
}

std::string AllRecordings() {
  std::string all;
  for (const char* name :
       {"pygpsdata-RTCM3.log", "pygpsdata-MIXED-RTCM3.log", "pygpsdata-RTCMMSM3.log",
        "pygpsdata-1240-1264.log", "pygpsdata-NTRIP-4076.log", "pygpsdata-MT1023.log",
        "pygpsdata-1230.bin"}) {
    all += fixtures::ReadRecording(name);
  }
  return all;
}

// The clean streams and damaged copies: flipped bits, stray preambles, lost spans, noise.
std::vector<std::string> Streams() {
  std::mt19937 random(8);
  const std::string clean = SyntheticStream() + AllRecordings();
  std::vector<std::string> streams{clean};
  std::string flipped = clean;
  for (int i = 0; i < 400; ++i) flipped[random() % flipped.size()] ^= char(1 << (random() % 8));
  streams.push_back(flipped);
  std::string preambles = clean;
  for (int i = 0; i < 400; ++i) preambles.insert(random() % preambles.size(), 1, '\xD3');
  streams.push_back(preambles);
  std::string cut;
  for (size_t at = 0; at < clean.size();) {
    const size_t keep = 1 + random() % 3000;
    cut += clean.substr(at, keep);
    at += keep + random() % 40;
  }
  streams.push_back(cut);
  std::string noise(200000, '\0');
  for (char& c : noise) c = static_cast<char>(random() % 8 == 0 ? 0xD3 : random());
  streams.push_back(noise);
  return streams;
}

// Everything a caller can see of a decoder.
void ExpectSameState(const RtcmDecoder& a, const RtcmDecoder& b) {
  EXPECT_EQ(a.staid, b.staid);
  EXPECT_EQ(a.time.time, b.time.time);
  EXPECT_EQ(a.time.sec, b.time.sec);
  EXPECT_EQ(a.epoch_complete, b.epoch_complete);
  EXPECT_EQ(a.last_eph_sat, b.last_eph_sat);
  EXPECT_EQ(a.frame_bytes, b.frame_bytes);
  EXPECT_EQ(a.len, b.len);
  EXPECT_EQ(a.scan_from, b.scan_from);
  EXPECT_EQ(0, std::memcmp(a.frame, b.frame, sizeof a.frame));
  EXPECT_EQ(0, std::memcmp(a.message_counts, b.message_counts, sizeof a.message_counts));
  EXPECT_EQ(0, std::memcmp(a.msm_signals, b.msm_signals, sizeof a.msm_signals));
  EXPECT_EQ(0, std::memcmp(a.lock_indicator, b.lock_indicator, sizeof a.lock_indicator));
  EXPECT_EQ(0, std::memcmp(a.legacy_phase, b.legacy_phase, sizeof a.legacy_phase));
  ASSERT_EQ(a.obs.count, b.obs.count);
  for (int i = 0; i < a.obs.count; ++i) {
    const ObsRecord& x = a.obs.records[i];
    const ObsRecord& y = b.obs.records[i];
    EXPECT_EQ(x.sat, y.sat);
    EXPECT_EQ(x.time.time, y.time.time);
    for (int s = 0; s < NUM_FREQ; ++s) {
      EXPECT_EQ(x.phase[s], y.phase[s]);
      EXPECT_EQ(x.range[s], y.range[s]);
      EXPECT_EQ(x.doppler[s], y.doppler[s]);
      EXPECT_EQ(x.snr[s], y.snr[s]);
      EXPECT_EQ(x.lli[s], y.lli[s]);
      EXPECT_EQ(x.code[s], y.code[s]);
    }
  }
}

TEST(BlockInput, GivesTheSameResultsAtTheSameBytesAsInputRtcm3OneByteAtATime) {
  for (const std::string& stream : Streams()) {
    const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
    DecoderPtr reference = NewDecoder();
    std::vector<std::pair<size_t, int>> expected;  // (offset, result) of nonzero results
    for (size_t i = 0; i < stream.size(); ++i) {
      const int result = input_rtcm3(reference.get(), data[i]);
      if (result != 0) expected.emplace_back(i, result);
    }
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{2048}, stream.size()}) {
      SCOPED_TRACE("piece " + std::to_string(piece));
      DecoderPtr dec = NewDecoder();
      std::vector<std::pair<size_t, int>> seen;
      for (size_t at = 0; at < stream.size(); at += piece) {
        const size_t end = std::min(stream.size(), at + piece);
        for (size_t pos = at; pos < end;) {
          size_t used = 0;
          const int result = input_rtcm3_block(dec.get(), data + pos, end - pos, &used);
          ASSERT_GE(used, 1u);
          ASSERT_LE(pos + used, end);
          pos += used;
          if (result != 0) seen.emplace_back(pos - 1, result);
        }
      }
      EXPECT_EQ(seen, expected);
      ExpectSameState(*dec, *reference);
    }
  }
}

TEST(BlockInput, LeavesAFrameCutAtAnyByteExactlyAsTheByteReaderDoes) {
  const std::vector<uint8_t> frame = Msm7(1077, 200000, true, 6, {2, 16});
  for (size_t cut = 0; cut <= frame.size(); ++cut) {
    DecoderPtr reference = NewDecoder();
    DecoderPtr dec = NewDecoder();
    for (size_t i = 0; i < cut; ++i) input_rtcm3(reference.get(), frame[i]);
    size_t used = 0;
    const int result = input_rtcm3_block(dec.get(), frame.data(), cut, &used);
    EXPECT_EQ(used, cut);
    EXPECT_EQ(result, cut == frame.size() ? 1 : 0);
    ExpectSameState(*dec, *reference);
  }
}

TEST(BlockInput, StopsRightAfterTheByteThatCompletesAFrame) {
  const std::string two = fixtures::AsString(Msm7(1077, 200000, true, 2, {2})) +
                          fixtures::AsString(Msm7(1077, 201000, true, 2, {2}));
  DecoderPtr dec = NewDecoder();
  size_t used = 0;
  EXPECT_EQ(
      input_rtcm3_block(dec.get(), reinterpret_cast<const uint8_t*>(two.data()), two.size(), &used),
      1);
  EXPECT_EQ(used, two.size() / 2);
  EXPECT_EQ(dec->frame_bytes, 0);
}

TEST(ChunkSummarizer, FeedGivesTheTextAndLastResultOfTheByteByByteSummary) {
  for (const std::string& stream : Streams()) {
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{2048}}) {
      SCOPED_TRACE("piece " + std::to_string(piece));
      DecoderPtr reference = NewDecoder();
      ChunkSummarizer summarizer(kClock);
      for (size_t at = 0; at < stream.size(); at += piece) {
        const std::string_view chunk = std::string_view(stream).substr(at, piece);
        std::string expected;
        int expected_last = 0;
        for (const char byte : chunk) {
          expected_last = input_rtcm3(reference.get(), static_cast<uint8_t>(byte));
          if (expected_last == 1) AppendEpochSummary(*reference, expected);
        }
        int last = -7;
        ASSERT_EQ(summarizer.Feed(chunk, &last), expected) << "at " << at;
        ASSERT_EQ(last, expected_last) << "at " << at;
      }
    }
  }
}

TEST(Crc, SlicedCrcEqualsTheBitwiseCrcForEveryFrameLength) {
  std::mt19937 random(24);
  std::vector<uint8_t> bytes(1100);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  for (int n = 0; n <= 1029; ++n) {
    for (const int offset : {0, 1, 3, 7}) {
      ASSERT_EQ(frame_crc24(bytes.data() + offset, n),
                n < 1 ? 0u : fixtures::Crc24q(bytes.data() + offset, static_cast<size_t>(n)))
          << "n=" << n << " offset=" << offset;
    }
  }
  EXPECT_EQ(frame_crc24(bytes.data(), -5), 0u);
}

TEST(BitReader, FrameFieldEqualsBitsUnsignedAndBitsSignedForEveryPositionAndWidth) {
  std::mt19937 random(5);
  FrameBuffer frame;
  for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
  frame[0] = 0xFF;  // all-ones fields at the start
  frame[1] = 0xFF;
  frame[2] = 0xFF;
  frame[3] = 0xFF;
  for (int n = -1; n <= 34; ++n) {
    const int width = std::clamp(n, 0, 32);
    for (int pos = 0; pos + width <= FRAME_MAX * 8; ++pos) {
      ASSERT_EQ(frame_field(frame, pos, n), bits_unsigned(frame, pos, n))
          << "pos=" << pos << " n=" << n;
      ASSERT_EQ(frame_field_signed(frame, pos, n), bits_signed(frame, pos, n))
          << "pos=" << pos << " n=" << n;
    }
  }
  EXPECT_EQ(frame_field_signed(frame, 0, 32), -1);
}

TEST(Summary, PrintsPhasesExactlyAsPrintfDoes) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.0078125,  // a tie at the sixth decimal
                                0.0000005,
                                -0.0000005,
                                0.0000015,
                                1.0 / 3.0,
                                -123.4567895,
                                112233445.125,
                                9007199254740993.0,
                                1e20,
                                -1e300,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> phase(-2e9, 2e9);
  for (int i = 0; i < 2000; ++i) values.push_back(phase(random));
  for (int i = 0; i < 2000; ++i) values.push_back(std::ldexp(phase(random), -40));
  DecoderPtr dec = NewDecoder();
  dec->staid = -17;
  std::string expected;
  char line[512];
  std::snprintf(line, sizeof line, "Station id: %d\n", dec->staid);
  expected += line;
  for (size_t i = 0; i + 1 < values.size(); i += 2) {
    const int index = dec->obs.count;
    ObsRecord& record = dec->obs.records[index];
    record.sat = static_cast<uint8_t>(1 + i % 55);
    record.phase[0] = values[i];
    record.phase[1] = values[i + 1];
    record.time.time = static_cast<int64_t>(i) * 7919 - 3000000000LL;
    ++dec->obs.count;
    if (dec->obs.count < MAX_OBS && i + 3 < values.size()) continue;
    for (int r = 0; r < dec->obs.count; ++r) {
      const ObsRecord& rec = dec->obs.records[r];
      std::snprintf(line, sizeof line, "GPS satellite PRN: %d L1: %f L2: %f Time: %" PRId64 "\n",
                    static_cast<int>(rec.sat), rec.phase[0], rec.phase[1], rec.time.time);
      expected += line;
    }
    std::string text;
    AppendEpochSummary(*dec, text);
    ASSERT_EQ(text, expected);
    dec->obs.count = 0;
    expected.clear();
    std::snprintf(line, sizeof line, "Station id: %d\n", dec->staid);
    expected += line;
  }
}

}  // namespace
}  // namespace rtcm
