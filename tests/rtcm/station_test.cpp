// Station messages 1005, 1006, 1007, 1008, 1033 and the station id rule.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm_frame_builder.h"

namespace rtcm {
namespace {

using fixtures::BitWriter;

// Message bytes (type first) without framing.
BitWriter Message1005(int type, int staid, int64_t x, int64_t y, int64_t z) {
  BitWriter w;
  w.Unsigned(type, 12).Unsigned(staid, 12).Unsigned(33, 6).Unsigned(0xF, 4).Signed38(x);
  w.Unsigned(3, 2).Signed38(y).Unsigned(3, 2).Signed38(z);
  return w;
}

BitWriter Message1007(int staid, const std::string& descriptor, int setup) {
  BitWriter w;
  w.Unsigned(1007, 12).Unsigned(staid, 12).Unsigned(descriptor.size(), 8).Text(descriptor);
  w.Unsigned(setup, 8);
  return w;
}

BitWriter Message1008(int staid, const std::string& descriptor, int setup,
                      const std::string& serial) {
  BitWriter w;
  w.Unsigned(1008, 12).Unsigned(staid, 12).Unsigned(descriptor.size(), 8).Text(descriptor);
  w.Unsigned(setup, 8).Unsigned(serial.size(), 8).Text(serial);
  return w;
}

BitWriter Message1033(int staid, const std::vector<std::string>& t, int setup) {
  BitWriter w;
  w.Unsigned(1033, 12).Unsigned(staid, 12);
  w.Unsigned(t[0].size(), 8).Text(t[0]).Unsigned(setup, 8);
  for (int i = 1; i < 5; ++i) w.Unsigned(t[i].size(), 8).Text(t[i]);
  return w;
}

// Message bytes, optionally with extra trailing zero bytes or with the last bytes cut off.
std::vector<uint8_t> Bytes(BitWriter w, int extra_bytes = 0) {
  w.PadToByte();
  std::vector<uint8_t> bytes = w.bytes();
  if (extra_bytes >= 0) {
    bytes.resize(bytes.size() + extra_bytes, 0);
  } else {
    bytes.resize(bytes.size() + extra_bytes);
  }
  return bytes;
}

class StationMessages : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(init_rtcm(dec.get()), 1); }

  int Decode(const std::vector<uint8_t>& message) {
    int result = 0;
    for (const uint8_t b : fixtures::WrapFrame(message)) result = input_rtcm3(dec.get(), b);
    EXPECT_EQ(dec->frame_bytes, 0);
    return result;
  }
  uint32_t Count(int type) const { return dec->message_counts[type - 1000]; }

  std::unique_ptr<RtcmDecoder> dec = std::make_unique<RtcmDecoder>();
};

TEST_F(StationMessages, Type1005OfNineteenBytesStoresTheCoordinates) {
  const std::vector<uint8_t> m = Bytes(Message1005(1005, 1234, 12345678901, -98765432109, 1));
  ASSERT_EQ(m.size(), 19u);
  EXPECT_EQ(Decode(m), 5);
  EXPECT_EQ(dec->staid, 1234);
  EXPECT_EQ(dec->station.delta_type, 0);
  EXPECT_EQ(dec->station.itrf_year, 33);
  EXPECT_DOUBLE_EQ(dec->station.position[0], 1234567.8901);
  EXPECT_DOUBLE_EQ(dec->station.position[1], -9876543.2109);
  EXPECT_DOUBLE_EQ(dec->station.position[2], 0.0001);
  EXPECT_EQ(dec->station.height, 0.0);
  EXPECT_EQ(Count(1005), 1u);
}

TEST_F(StationMessages, Type1005OfAnyOtherLengthIsRejectedAndNotCounted) {
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 1, 1, 2, 3), 1)), -1);
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 1, 1, 2, 3), -1)), -1);
  EXPECT_EQ(Count(1005), 0u);
  EXPECT_EQ(dec->station.position[0], 0.0);
  EXPECT_EQ(dec->staid, 0);
}

TEST_F(StationMessages, Type1006AddsTheHeightAndAcceptsLongerMessages) {
  BitWriter w = Message1005(1006, 42, 10000, 20000, 30000);
  w.Unsigned(15000, 16);
  const std::vector<uint8_t> exact = Bytes(w);
  ASSERT_EQ(exact.size(), 21u);
  EXPECT_EQ(Decode(exact), 5);
  EXPECT_EQ(dec->station.delta_type, 1);
  EXPECT_DOUBLE_EQ(dec->station.height, 1.5);
  EXPECT_DOUBLE_EQ(dec->station.position[2], 3.0);
  EXPECT_EQ(Decode(Bytes(w, 4)), 5);
  EXPECT_EQ(Decode(Bytes(w, -1)), -1);
  EXPECT_EQ(Count(1006), 2u);
}

TEST_F(StationMessages, Type1006Then1005ResetsTheHeightAndDeltaType) {
  BitWriter w = Message1005(1006, 42, 1, 1, 1);
  w.Unsigned(15000, 16);
  ASSERT_EQ(Decode(Bytes(w)), 5);
  ASSERT_EQ(Decode(Bytes(Message1005(1005, 42, 1, 1, 1))), 5);
  EXPECT_EQ(dec->station.delta_type, 0);
  EXPECT_EQ(dec->station.height, 0.0);
}

TEST_F(StationMessages, Type1007KeepsThirtyOneCharactersAndFindsTheSetupAfterAllForty) {
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
  ASSERT_EQ(forty.size(), 40u);
  std::snprintf(dec->station.antenna_serial, TEXT_MAX, "old serial");
  EXPECT_EQ(Decode(Bytes(Message1007(9, forty, 77))), 5);
  EXPECT_EQ(std::string(dec->station.antenna_descriptor), forty.substr(0, 31));
  EXPECT_EQ(dec->station.antenna_setup, 77);
  EXPECT_STREQ(dec->station.antenna_serial, "");
}

TEST_F(StationMessages, Type1007LengthRuleIsExact) {
  EXPECT_EQ(Decode(Bytes(Message1007(9, "TRM59800.00     NONE", 3))), 5);
  EXPECT_EQ(Decode(Bytes(Message1007(9, "TRM59800.00     NONE", 3), -1)), -1);
  EXPECT_EQ(Count(1007), 1u);
}

TEST_F(StationMessages, Type1008StoresDescriptorSetupAndSerial) {
  EXPECT_EQ(Decode(Bytes(Message1008(9, "LEIAR25.R4      LEIT", 1, "726312"))), 5);
  EXPECT_STREQ(dec->station.antenna_descriptor, "LEIAR25.R4      LEIT");
  EXPECT_EQ(dec->station.antenna_setup, 1);
  EXPECT_STREQ(dec->station.antenna_serial, "726312");
  EXPECT_EQ(Decode(Bytes(Message1008(9, "X", 1, std::string(35, 'S')))), 5);
  EXPECT_EQ(std::string(dec->station.antenna_serial), std::string(31, 'S'));
  EXPECT_EQ(Decode(Bytes(Message1008(9, "LEIAR25", 1, "7263"), -1)), -1);
  EXPECT_EQ(Count(1008), 2u);
}

TEST_F(StationMessages, Type1033StoresFiveTextsTruncatedAndKeepsTheirPositions) {
  const std::vector<std::string> texts = {"JAVRINGANT_DM   NONE", "", std::string(40, 'R'),
                                          "4.3.00", "0123456789"};
  EXPECT_EQ(Decode(Bytes(Message1033(2003, texts, 5))), 5);
  const StationInfo& s = dec->station;
  EXPECT_STREQ(s.antenna_descriptor, "JAVRINGANT_DM   NONE");
  EXPECT_EQ(s.antenna_setup, 5);
  EXPECT_STREQ(s.antenna_serial, "");
  EXPECT_EQ(std::string(s.receiver_type), std::string(31, 'R'));
  EXPECT_STREQ(s.receiver_version, "4.3.00");
  EXPECT_STREQ(s.receiver_serial, "0123456789");
  EXPECT_EQ(dec->staid, 2003);
}

TEST_F(StationMessages, Type1033LengthRuleIsExact) {
  const std::vector<std::string> texts = {"ANT", "SN", "REC", "1.0", "RSN"};
  EXPECT_EQ(Decode(Bytes(Message1033(1, texts, 0), -1)), -1);
  EXPECT_EQ(Decode(Bytes(Message1033(1, texts, 0))), 5);
  EXPECT_EQ(Count(1033), 1u);
}

TEST_F(StationMessages, Type1033CountsThatLieOutsideTheMessageAreALengthError) {
  BitWriter w;
  w.Unsigned(1033, 12).Unsigned(1, 12).Unsigned(255, 8);
  EXPECT_EQ(Decode(Bytes(w)), -1);
  // Four long texts and no room left for the fifth count.
  BitWriter four;
  four.Unsigned(1033, 12).Unsigned(1, 12);
  four.Unsigned(255, 8).Text(std::string(255, 'a')).Unsigned(0, 8);
  four.Unsigned(255, 8).Text(std::string(255, 'b'));
  four.Unsigned(255, 8).Text(std::string(255, 'c'));
  four.Unsigned(200, 8).Text(std::string(200, 'd'));
  ASSERT_LE(Bytes(four).size(), 1023u);
  EXPECT_EQ(Decode(Bytes(four)), -1);
  EXPECT_EQ(Count(1033), 0u);
}

TEST_F(StationMessages, AnotherStationInsideAnOpenEpochIsRejectedOnceThenAccepted) {
  dec->staid = 5;  // an epoch of station 5 is being collected (sync 1 seen)
  dec->epoch_complete = 0;
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 7, 1, 2, 3))), -1);
  EXPECT_EQ(dec->staid, 0);
  EXPECT_EQ(Count(1005), 0u);
  EXPECT_EQ(dec->station.position[0], 0.0);
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 7, 1, 2, 3))), 5);
  EXPECT_EQ(dec->staid, 7);
  EXPECT_EQ(Count(1005), 1u);
}

TEST(StationIdRule, AcceptsTheSameStationWithinAnEpochAndAnyAfterIt) {
  auto dec = std::make_unique<RtcmDecoder>();
  ASSERT_EQ(init_rtcm(dec.get()), 1);
  EXPECT_EQ(check_station_id(dec.get(), 5), 1);
  EXPECT_EQ(dec->staid, 5);
  EXPECT_EQ(check_station_id(dec.get(), 5), 1);
  EXPECT_EQ(check_station_id(dec.get(), 6), 0);
  EXPECT_EQ(dec->staid, 0);
  EXPECT_EQ(check_station_id(dec.get(), 6), 1);
  EXPECT_EQ(dec->staid, 6);
  dec->epoch_complete = 1;
  EXPECT_EQ(check_station_id(dec.get(), 8), 1);
  EXPECT_EQ(dec->staid, 8);
}

TEST(StationIdRule, StationOptionRejectsEveryOtherId) {
  auto dec = std::make_unique<RtcmDecoder>();
  ASSERT_EQ(init_rtcm(dec.get()), 1);
  std::snprintf(dec->options, sizeof dec->options, "-EPHALL -STA=12");
  EXPECT_EQ(check_station_id(dec.get(), 13), 0);
  EXPECT_EQ(dec->staid, 0);
  EXPECT_EQ(check_station_id(dec.get(), 12), 1);
  EXPECT_EQ(dec->staid, 12);
  EXPECT_EQ(check_station_id(dec.get(), 13), 0);
  EXPECT_EQ(dec->staid, 12);  // the option rejects before the epoch rule changes anything
}

TEST_F(StationMessages, DescriptionIsWrittenOnlyWhenAsked) {
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 12, 1, 2, 3))), 5);
  EXPECT_STREQ(dec->description, "");
  dec->describe_messages = 1;
  EXPECT_EQ(Decode(Bytes(Message1005(1005, 12, 1, 2, 3))), 5);
  EXPECT_STREQ(dec->description, "RTCM 1005 (  22): staid=  12");
}

}  // namespace
}  // namespace rtcm
