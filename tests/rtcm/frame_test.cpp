// The frame reader, the bit readers and the CRC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rtcm/frame.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;
using fixtures::FrameOf;
using fixtures::FrameOfLength;
using fixtures::WrapFrame;

class FrameReader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(init_rtcm(dec.get()), 1); }
  void TearDown() override { free_rtcm(dec.get()); }

  // Feeds bytes; returns the result of every byte.
  std::vector<int> Feed(const std::vector<uint8_t>& bytes) {
    std::vector<int> results;
    for (const uint8_t b : bytes) results.push_back(input_rtcm3(dec.get(), b));
    return results;
  }
  uint32_t Count(int type) const { return dec->message_counts[type - 1000]; }

  std::unique_ptr<RtcmDecoder> dec = std::make_unique<RtcmDecoder>();
};

// A 1005 message (station 77), which the dispatcher answers with 5.
std::vector<uint8_t> StationFrame() {
  BitWriter w;
  w.Unsigned(77, 12).Unsigned(10, 6).Unsigned(0, 4).Signed38(1).Unsigned(0, 2).Signed38(2);
  w.Unsigned(0, 2).Signed38(3);
  return FrameOf(1005, w);
}

TEST(Crc24q, CheckStringAndTableEntries) {
  const char* check = "123456789";
  EXPECT_EQ(frame_crc24(reinterpret_cast<const uint8_t*>(check), 9), 0xCDE703u);
  const uint8_t bytes[] = {0, 1, 2, 3};
  EXPECT_EQ(frame_crc24(&bytes[0], 1), 0x000000u);
  EXPECT_EQ(frame_crc24(&bytes[1], 1), 0x864CFBu);
  EXPECT_EQ(frame_crc24(&bytes[2], 1), 0x8AD50Du);
  EXPECT_EQ(frame_crc24(&bytes[3], 1), 0x0C99F6u);
}

TEST(Crc24q, NoBytesGiveZero) {
  const uint8_t byte = 0xD3;
  EXPECT_EQ(frame_crc24(&byte, 0), 0u);
  EXPECT_EQ(frame_crc24(&byte, -4), 0u);
}

TEST(Crc24q, TableDrivenMatchesTheBitwiseReferenceOnEveryByteValueAndLongRuns) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 1029; ++i) data.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
  for (int b = 0; b < 256; ++b) {
    const uint8_t byte = static_cast<uint8_t>(b);
    ASSERT_EQ(frame_crc24(&byte, 1), fixtures::Crc24q(&byte, 1)) << b;
  }
  EXPECT_EQ(frame_crc24(data.data(), 1029), fixtures::Crc24q(data.data(), 1029));
}

TEST(BitReaders, UnsignedAtZeroOneThirtyOneAndThirtyTwoBits) {
  const uint8_t buff[] = {0xA5, 0xFF, 0x00, 0x80, 0x01, 0x7F, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(bits_unsigned(buff, 0, 0), 0u);
  EXPECT_EQ(bits_unsigned(buff, 5, -1), 0u);
  EXPECT_EQ(bits_unsigned(buff, 0, 1), 1u);
  EXPECT_EQ(bits_unsigned(buff, 1, 1), 0u);
  EXPECT_EQ(bits_unsigned(buff, 0, 8), 0xA5u);
  EXPECT_EQ(bits_unsigned(buff, 4, 8), 0x5Fu);
  EXPECT_EQ(bits_unsigned(buff, 0, 32), 0xA5FF0080u);
  EXPECT_EQ(bits_unsigned(buff, 1, 31), 0x25FF0080u);
  EXPECT_EQ(bits_unsigned(buff, 7, 32), 0xFF804000u | (0x01u >> 1));
  EXPECT_EQ(bits_unsigned(buff, 40, 32), 0x7FFFFFFFu);
}

TEST(BitReaders, SignedExtendsTheTopBit) {
  const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(bits_signed(ones, 0, 32), -1);
  EXPECT_EQ(bits_signed(ones, 3, 31), -1);
  EXPECT_EQ(bits_signed(ones, 0, 1), -1);
  EXPECT_EQ(bits_signed(ones, 0, 0), 0);
  const uint8_t min14[] = {0x80, 0x00};  // 14 bits holding 0x2000
  EXPECT_EQ(bits_signed(min14, 0, 14), -8192);
  const uint8_t max14[] = {0x7F, 0xFC};
  EXPECT_EQ(bits_signed(max14, 0, 14), 8191);
  const uint8_t min32[] = {0x80, 0, 0, 0};
  EXPECT_EQ(bits_signed(min32, 0, 32), INT32_MIN);
  const uint8_t one31[] = {0x00, 0x00, 0x00, 0x02};
  EXPECT_EQ(bits_signed(one31, 0, 31), 1);
}

TEST(BitReaders, SignMagnitudeAndThirtyEightBitSigned) {
  BitWriter w;
  w.SignMagnitude(-5, 5).SignMagnitude(5, 5).SignMagnitude(-1023, 11);
  w.Signed38(-123456789012).Signed38(137438953471);  // the largest 38-bit value
  const uint8_t* b = w.bytes().data();
  EXPECT_EQ(bits_sign_magnitude(b, 0, 5), -5.0);
  EXPECT_EQ(bits_sign_magnitude(b, 5, 5), 5.0);
  EXPECT_EQ(bits_sign_magnitude(b, 10, 11), -1023.0);
  EXPECT_EQ(bits_signed38(b, 21), -123456789012.0);
  EXPECT_EQ(bits_signed38(b, 59), 137438953471.0);
}

TEST_F(FrameReader, BytesBeforeTheFirstPreambleAreDropped) {
  std::vector<uint8_t> stream = {0x00, 0x12, 0xFF, 0x44};
  const std::vector<uint8_t> frame = StationFrame();
  stream.insert(stream.end(), frame.begin(), frame.end());
  const std::vector<int> results = Feed(stream);
  for (size_t i = 0; i + 1 < results.size(); ++i) ASSERT_EQ(results[i], 0) << i;
  EXPECT_EQ(results.back(), 5);
  EXPECT_EQ(Count(1005), 1u);
}

TEST_F(FrameReader, ARightFrameYieldsTheDispatcherResultOnItsLastCrcByteOnly) {
  const std::vector<uint8_t> frame = StationFrame();
  const std::vector<int> results = Feed(frame);
  for (size_t i = 0; i + 1 < results.size(); ++i) ASSERT_EQ(results[i], 0) << i;
  EXPECT_EQ(results.back(), 5);
  EXPECT_EQ(dec->frame_bytes, 0);
}

TEST_F(FrameReader, MessageLengthZeroCompletesAfterSixBytes) {
  const std::vector<uint8_t> frame = WrapFrame({});
  ASSERT_EQ(frame.size(), 6u);
  Feed(frame);
  EXPECT_EQ(dec->frame_bytes, 0);
  // Its "type" is read from the CRC bytes that follow the header: 0x47E -> 1150, counted.
  EXPECT_EQ(dec->message_counts[150], 1u);
}

TEST_F(FrameReader, MessageLength1023IsCollectedInFullBeforeTheCheck) {
  const std::vector<uint8_t> frame = FrameOfLength(4000, 1023);
  ASSERT_EQ(frame.size(), 1029u);
  std::vector<uint8_t> body(frame.begin(), frame.end() - 1);
  Feed(body);
  EXPECT_EQ(dec->frame_bytes, 1028);
  EXPECT_EQ(input_rtcm3(dec.get(), frame.back()), 0);
  EXPECT_EQ(dec->frame_bytes, 0);
  EXPECT_EQ(dec->message_counts[0], 1u);
}

TEST_F(FrameReader, TheSixBitsBeforeTheLengthAreIgnored) {
  BitWriter w;
  w.Unsigned(1005, 12).Unsigned(77, 12).Unsigned(10, 6).Unsigned(0, 4).Signed38(1);
  w.Unsigned(0, 2).Signed38(2).Unsigned(0, 2).Signed38(3);
  const std::vector<int> results = Feed(WrapFrame(w.bytes(), 0x3F));
  EXPECT_EQ(results.back(), 5);
  EXPECT_DOUBLE_EQ(dec->station.position[2], 0.0003);
}

TEST_F(FrameReader, AWrongCrcIsDroppedAndTheNextByteMayStartAFrame) {
  std::vector<uint8_t> bad = StationFrame();
  bad.back() ^= 0x01;
  const std::vector<uint8_t> good = StationFrame();
  const std::vector<int> bad_results = Feed(bad);
  for (const int r : bad_results) ASSERT_EQ(r, 0);
  EXPECT_EQ(dec->frame_bytes, 0);
  EXPECT_EQ(Count(1005), 0u);
  EXPECT_EQ(Feed(good).back(), 5);
  EXPECT_EQ(Count(1005), 1u);
}

TEST_F(FrameReader, AStrayPreambleWithALongLengthLosesNoFrameBehindIt) {
  // The stray 0xD3 announces a 1000-byte message that swallows forty real frames; once its CRC
  // fails, the search restarts at the byte after it and finds every one of them.
  const std::vector<uint8_t> frame = StationFrame();
  std::vector<uint8_t> stream = {0xD3, 0x03, 0xE8};
  for (int i = 0; i < 50; ++i) stream.insert(stream.end(), frame.begin(), frame.end());
  const std::vector<int> results = Feed(stream);
  EXPECT_EQ(Count(1005), 50u);
  EXPECT_EQ(std::count(results.begin(), results.end(), 5), 50);
  EXPECT_EQ(dec->frame_bytes, 0);

  // The same when the input ends inside the false frame: the end of input releases them.
  ASSERT_EQ(init_rtcm(dec.get()), 1);
  stream.resize(3 + 10 * frame.size());
  for (const int r : Feed(stream)) ASSERT_EQ(r, 0);
  int found = 0;
  for (int r = input_rtcm3_end(dec.get()); dec->frame_decoded; r = input_rtcm3_end(dec.get())) {
    EXPECT_EQ(r, 5);
    ++found;
  }
  EXPECT_EQ(found, 10);
  EXPECT_EQ(Count(1005), 10u);
}

TEST_F(FrameReader, AFrameSplitAcrossFeedsIsStillRead) {
  const std::vector<uint8_t> frame = StationFrame();
  for (size_t i = 0; i + 1 < frame.size(); ++i) ASSERT_EQ(input_rtcm3(dec.get(), frame[i]), 0);
  EXPECT_EQ(input_rtcm3(dec.get(), frame.back()), 5);
}

TEST(DecoderLifecycle, InitLeavesTheDocumentedEmptyState) {
  auto dec = std::make_unique<RtcmDecoder>();
  dec->staid = 9;
  dec->message_counts[5] = 3;
  dec->options[0] = 'x';
  dec->ssr[4].update = 1;
  dec->legacy_phase[3][1] = 2.0;
  ASSERT_EQ(init_rtcm(dec.get()), 1);
  EXPECT_EQ(dec->staid, 0);
  EXPECT_EQ(dec->message_counts[5], 0u);
  EXPECT_EQ(dec->options[0], '\0');
  EXPECT_EQ(dec->ssr[4].update, 0);
  EXPECT_EQ(dec->legacy_phase[3][1], 0.0);
  EXPECT_EQ(dec->obs.count, 0);
  ASSERT_NE(dec->obs.records, nullptr);
  EXPECT_EQ(dec->obs.records[63].sat, 0);
  EXPECT_EQ(dec->navigation.eph_count, MAX_SAT);
  EXPECT_EQ(dec->navigation.ephemeris[54].iode, -1);
  EXPECT_EQ(dec->navigation.ephemeris[54].satellite, 0);
  EXPECT_EQ(dec->navigation.glo_count, 1);
  EXPECT_EQ(dec->navigation.glonass[0].iode, -1);
  free_rtcm(dec.get());
  EXPECT_EQ(dec->obs.records, nullptr);
  EXPECT_EQ(dec->navigation.ephemeris, nullptr);
  EXPECT_EQ(dec->navigation.glonass, nullptr);
  EXPECT_EQ(dec->navigation.eph_count, 0);
  EXPECT_EQ(dec->navigation.glo_count, 0);
}

TEST(DecoderLifecycle, InitKeepsThePinnedClock) {
  auto dec = std::make_unique<RtcmDecoder>();
  dec->utc_clock = [] { return GnssTime{1700000000, 0.0}; };
  ASSERT_EQ(init_rtcm(dec.get()), 1);
  ASSERT_TRUE(dec->utc_clock);
  EXPECT_EQ(current_gps_time(dec.get()).time, 1700000018);
}

}  // namespace
}  // namespace rtcm
