// The dispatcher: every message number reaches its decoder, the counting rule, the options.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    dec->utc_clock = [] { return GnssTime{1709210096, 0.75}; };  // 2024-02-29 12:34:56.75 UTC
    ASSERT_EQ(init_rtcm(dec.get()), 1);
  }

  int Decode(const std::vector<uint8_t>& frame) {
    int result = 0;
    for (const uint8_t b : frame) result = input_rtcm3(dec.get(), b);
    EXPECT_EQ(dec->frame_bytes, 0);
    return result;
  }
  // A frame that holds nothing but the message number (two bytes).
  int DecodeBare(int type) { return Decode(fixtures::FrameOfLength(type, 2)); }
  uint32_t Total() const {
    uint32_t total = 0;
    for (const uint32_t c : dec->message_counts) total += c;
    return total;
  }

  std::unique_ptr<RtcmDecoder> dec = std::make_unique<RtcmDecoder>();
};

std::vector<int> Range(int first, int last) {
  std::vector<int> types;
  for (int t = first; t <= last; ++t) types.push_back(t);
  return types;
}

// Every number that goes to a decoder which checks its length before anything else.
std::vector<int> DecodedTypes() {
  std::vector<int> types = {1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                            1011, 1012, 1019, 1020, 1033, 63,   1042, 1044, 1045, 1046};
  for (const int base : {1057, 1063, 1240, 1246, 1252, 1258}) {
    for (const int t : Range(base, base + 5)) types.push_back(t);
  }
  for (const int base : {1070, 1080, 1090, 1100, 1110, 1120}) {
    for (const int t : Range(base + 1, base + 7)) types.push_back(t);
  }
  return types;
}

TEST_F(Dispatcher, TypesOutsideTheCountedRangeGoToElementZero) {
  for (const int type : {1000, 1300, 4095, 4072, 0, 62, 64}) {
    EXPECT_EQ(DecodeBare(type), 0) << type;
  }
  EXPECT_EQ(dec->message_counts[0], 7u);
  EXPECT_EQ(Total(), 7u);
}

TEST_F(Dispatcher, UnknownTypesInsideTheRangeAreCountedInTheirOwnElement) {
  for (const int type : {1014, 1018, 1029, 1050, 1078, 1128, 1200, 1264, 1299}) {
    EXPECT_EQ(DecodeBare(type), 0) << type;
    EXPECT_EQ(dec->message_counts[type - 1000], 1u) << type;
  }
  EXPECT_EQ(Total(), 9u);
}

TEST_F(Dispatcher, UnsupportedTypesAreCountedAndGiveZero) {
  std::vector<int> types = Range(1021, 1027);
  for (const int t : {1030, 1031, 1032, 1034, 1035, 1037, 1038, 1039, 1230, 1013}) {
    types.push_back(t);
  }
  for (const int type : types) {
    EXPECT_EQ(DecodeBare(type), 0) << type;
    EXPECT_EQ(dec->message_counts[type - 1000], 1u) << type;
  }
}

TEST_F(Dispatcher, EveryDecodedTypeReachesADecoderThatRejectsATooShortFrame) {
  // Each of these decoders needs more than a bare message number; the rejection shows the
  // frame reached a decoder, and a rejected message is not counted.
  for (const int type : DecodedTypes()) {
    EXPECT_EQ(DecodeBare(type), -1) << type;
  }
  EXPECT_EQ(Total(), 0u);
}

TEST_F(Dispatcher, Type63IsDecodedAsABeiDouEphemeris) {
  // A 1042-sized message of type 63: BeiDou has no satellite number, so it ends with -1
  // exactly like 1042 does, instead of being counted as an unknown type.
  const std::vector<uint8_t> as63 = fixtures::FrameOfLength(63, 68);
  const std::vector<uint8_t> as1042 = fixtures::FrameOfLength(1042, 68);
  EXPECT_EQ(Decode(as1042), -1);
  EXPECT_EQ(Decode(as63), -1);
  EXPECT_EQ(Decode(fixtures::FrameOfLength(62, 68)), 0);
  EXPECT_EQ(dec->message_counts[0], 1u);
}

TEST_F(Dispatcher, StationMessagesAreCountedWhenStored) {
  BitWriter w;
  w.Unsigned(12, 12).Unsigned(0, 6).Unsigned(0, 4).Signed38(1).Unsigned(0, 2).Signed38(2);
  w.Unsigned(0, 2).Signed38(3);
  EXPECT_EQ(Decode(fixtures::FrameOf(1005, w)), 5);
  EXPECT_EQ(dec->message_counts[5], 1u);
}

TEST_F(Dispatcher, LegacyHeaderOnlyMessagesSetTimeAndStationAndEndTheEpochOnSyncZero) {
  for (const int type : {1001, 1003}) {
    ASSERT_EQ(init_rtcm(dec.get()), 1);
    BitWriter w;  // station 321, tow 100000.5 s, sync 0, no satellites, smoothing bits
    w.Unsigned(321, 12).Unsigned(100000500, 30).Unsigned(0, 1).Unsigned(0, 5).Unsigned(0, 4);
    EXPECT_EQ(Decode(fixtures::FrameOf(type, w)), 1) << type;
    EXPECT_EQ(dec->staid, 321);
    EXPECT_EQ(dec->epoch_complete, 1);
    EXPECT_EQ(dec->obs.count, 0);
    int week = 0;
    EXPECT_DOUBLE_EQ(gps_week_from_time(dec->time, &week), 100000.5);
    EXPECT_EQ(week, 2303);  // the week of the pinned clock
    EXPECT_EQ(dec->message_counts[type - 1000], 1u);
  }
}

TEST_F(Dispatcher, LegacyHeaderOnlyMessageWithSyncOneGivesZeroAndKeepsTheEpochOpen) {
  BitWriter w;
  w.Unsigned(321, 12).Unsigned(100000500, 30).Unsigned(1, 1).Unsigned(0, 5).Unsigned(0, 4);
  EXPECT_EQ(Decode(fixtures::FrameOf(1001, w)), 0);
  EXPECT_EQ(dec->epoch_complete, 0);
  EXPECT_EQ(dec->message_counts[1], 1u);
}

TEST_F(Dispatcher, GlonassHeaderOnlyMessagesEndTheEpochOnSyncZero) {
  for (const int type : {1009, 1011}) {
    BitWriter w;  // station 321, time of day 3600 s, sync 0, no satellites, smoothing bits
    w.Unsigned(321, 12).Unsigned(3600000, 27).Unsigned(0, 1).Unsigned(0, 5).Unsigned(0, 4);
    EXPECT_EQ(Decode(fixtures::FrameOf(type, w)), 1) << type;
    EXPECT_EQ(dec->epoch_complete, 1);
  }
}

TEST_F(Dispatcher, RealTimeOptionSetsTheTimeToTheWholeSecondOfNow) {
  std::snprintf(dec->options, sizeof dec->options, "-RT_INP");
  EXPECT_EQ(DecodeBare(4000), 0);
  EXPECT_EQ(dec->time.time, 1709210096 + 18);
  EXPECT_EQ(dec->time.sec, 0.0);
}

TEST_F(Dispatcher, WithoutOptionsTheTimeIsLeftAlone) {
  EXPECT_EQ(DecodeBare(4000), 0);
  EXPECT_EQ(dec->time.time, 0);
}

TEST_F(Dispatcher, DescriptionStartsWithTypeAndLengthWhenAsked) {
  dec->describe_messages = 1;
  EXPECT_EQ(DecodeBare(1300), 0);
  EXPECT_STREQ(dec->description, "RTCM 1300 (   5):");
}

TEST_F(Dispatcher, ArbitraryMessageBodiesOfEveryTypeGiveOnlyDefinedResults) {
  // Random contents behind a right CRC reach every decoder with counts, masks and lengths
  // that no encoder would write; under the sanitizers this shows no read past the frame.
  std::mt19937 random(20261208);
  const std::set<int> defined = {-1, 0, 1, 2, 5, 10};
  std::vector<int> types = DecodedTypes();
  for (const int t : {1013, 1023, 1230, 4072, 4095}) types.push_back(t);
  for (const int type : types) {
    for (int trial = 0; trial < 40; ++trial) {
      const int size = trial < 8 ? 2 + trial * 3 : 2 + static_cast<int>(random() % 1022);
      BitWriter w;
      w.Unsigned(type, 12);
      while (w.bit_count() < size * 8) w.Unsigned(random() & 0xFF, 8);
      const std::vector<uint8_t> bytes(w.bytes().begin(), w.bytes().begin() + size);
      const int result = Decode(fixtures::WrapFrame(bytes));
      ASSERT_TRUE(defined.count(result)) << type << " gave " << result;
      ASSERT_LE(dec->obs.count, MAX_OBS);
    }
  }
}

}  // namespace
}  // namespace rtcm
