// MSM observation messages of the six systems, fed as whole frames to a decoder with a pinned
// clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "obs_frames.h"
#include "rtcm/msm.h"
#include "rtcm/summary.h"

namespace {

using namespace obs_test;
using rtcm::ObsRecord;
using rtcm::SYS_BEIDOU;
using rtcm::SYS_GALILEO;
using rtcm::SYS_GLONASS;
using rtcm::SYS_GPS;
using rtcm::SYS_QZSS;
using rtcm::SYS_SBAS;

double P2(int exponent) {
  return std::ldexp(1.0, exponent);
}

MsmSat Sat(int id, uint32_t whole_ms = 70, uint32_t modulo = 512) {
  MsmSat s;
  s.id = id;
  s.whole_ms = whole_ms;
  s.modulo = modulo;
  return s;
}

double RoughRange(uint32_t whole_ms, uint32_t modulo) {
  return whole_ms * kLightMs + modulo * P2(-10) * kLightMs;
}

class MsmObservations : public ::testing::Test {
 protected:
  const ObsRecord& Record(int index) const { return dec->obs.records[index]; }
  std::string SignalRow(int row) const { return dec->msm_signals[row]; }
  DecoderPtr dec = PinnedDecoder();
};

// ---- signals and slots ----

TEST_F(MsmObservations, HigherPriorityCodeTakesTheSlotAndAllSignalsAreListed) {
  MsmMessage m;
  m.sats = {Sat(3)};
  m.signals = {2, 3};  // 1C, 1P
  MsmCell c1;
  c1.fine_range = 1000;
  c1.fine_phase = 2000;
  c1.lock = 5;
  c1.cnr = 40;
  MsmCell p1;
  p1.fine_range = -1000;
  p1.fine_phase = -2000;
  p1.cnr = 30;
  m.cells = {c1, p1};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 4, m)), 1);

  EXPECT_EQ(SignalRow(0), "L1C,L1P");
  ASSERT_EQ(dec->obs.count, 1);
  const ObsRecord& r = Record(0);
  const double rough = RoughRange(70, 512);
  EXPECT_EQ(r.sat, 3);
  EXPECT_EQ(r.code[0], 1);
  EXPECT_NEAR(r.range[0], rough + 1000 * P2(-24) * kLightMs, 1e-6);
  EXPECT_NEAR(r.phase[0], (rough + 2000 * P2(-29) * kLightMs) / kL1, 1e-6);
  EXPECT_EQ(r.snr[0], 160);
  EXPECT_EQ(r.lli[0], 0);
  EXPECT_EQ(r.code[1], 0);
  EXPECT_EQ(r.phase[1], 0.0);
  EXPECT_EQ(r.doppler[0], 0.0f);  // MSM 4 carries no rates
}

TEST_F(MsmObservations, CodeOptionOverridesTheDefaultPriority) {
  std::strcpy(dec->options, "-GL1P");
  MsmMessage m;
  m.sats = {Sat(3)};
  m.signals = {2, 3};
  m.cells = {MsmCell{}, MsmCell{}};
  Feed(dec.get(), MsmFrame(SYS_GPS, 4, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).code[0], 2);  // 1P
}

TEST_F(MsmObservations, EachFrequencyGetsItsOwnSlot) {
  MsmMessage m;
  m.sats = {Sat(10)};
  m.signals = {2, 16, 24};  // 1C, 2L, 5X
  Feed(dec.get(), MsmFrame(SYS_GPS, 7, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).code[0], 1);   // 1C
  EXPECT_EQ(Record(0).code[1], 17);  // 2L
  EXPECT_EQ(Record(0).code[2], 26);  // 5X
  EXPECT_NEAR(Record(0).phase[2], RoughRange(70, 512) / (kC / 1176.45e6), 1e-6);
  EXPECT_EQ(SignalRow(0), "L1C,L2L,L5X");
}

TEST_F(MsmObservations, SignalWithoutACodeIsListedByItsIdAndDropped) {
  MsmMessage m;
  m.sats = {Sat(5)};
  m.signals = {2, 18};  // 1C, 8I
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GALILEO, 7, m)), 1);
  EXPECT_EQ(SignalRow(2), "L1C,(18)");

  MsmMessage gps;
  gps.sats = {Sat(5)};
  gps.signals = {1, 2};  // id 1 has no code
  Feed(dec.get(), MsmFrame(SYS_GPS, 7, gps));
  EXPECT_EQ(SignalRow(0), "(1),L1C");
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).code[0], 1);
  EXPECT_EQ(Record(0).code[1], 0);
  EXPECT_EQ(Record(0).code[2], 0);
}

TEST_F(MsmObservations, SignalRowOfThirtyTwoSignalsStaysInsideItsRow) {
  MsmMessage m;
  m.sats = {Sat(1)};
  for (int id = 1; id <= 32; ++id) m.signals.push_back(id);
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_SBAS, 4, m)), 1);
  const std::string row = SignalRow(4);
  EXPECT_LT(row.size(), sizeof dec->msm_signals[4]);
  EXPECT_EQ(row.rfind("(1),L1C,(3),", 0), 0u) << row;
  EXPECT_EQ(SignalRow(5), "");  // the BeiDou row after it is untouched
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 33);
}

TEST_F(MsmObservations, BeidouRowUsesItsOwnCodes) {
  MsmMessage m;
  m.sats = {Sat(7)};
  m.signals = {2, 8, 14};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_BEIDOU, 4, m)), 1);
  EXPECT_EQ(SignalRow(5), "L1I,L6I,L7I");
  EXPECT_EQ(dec->obs.count, 0);  // BeiDou satellites have no number
}

// ---- header limits and lengths ----

TEST_F(MsmObservations, EightSatellitesTimesEightSignalsIsAcceptedAndNineIsRefused) {
  MsmMessage m;
  for (int id = 1; id <= 8; ++id) m.sats.push_back(Sat(id));
  m.signals = {2, 3, 4, 8, 9, 16, 22, 24};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, m)), 1);
  EXPECT_EQ(dec->obs.count, 8);
  EXPECT_EQ(dec->message_counts[77], 1u);

  m.sats.push_back(Sat(9));
  m.epoch_ms = kTowMs + 1000;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, m)), -1);
  EXPECT_EQ(dec->obs.count, 8);
  EXPECT_EQ(dec->message_counts[77], 1u);
  // A refused header leaves the decoder's time at the last accepted epoch.
  EXPECT_EQ(dec->time.time, GpsTime(kTowMs).time);
}

TEST_F(MsmObservations, FrameShorterThanTheFixedHeaderIsRefused) {
  EXPECT_EQ(Feed(dec.get(), fixtures::FrameOfLength(1077, 20)), -1);
  EXPECT_EQ(Feed(dec.get(), fixtures::FrameOfLength(1073, 20)), -1);
  EXPECT_EQ(dec->time.time, 0);
}

TEST_F(MsmObservations, CellMaskLongerThanTheFrameIsRefused) {
  MsmMessage m;
  for (int id = 1; id <= 8; ++id) m.sats.push_back(Sat(id));
  m.signals = {2, 3, 4, 8, 9, 16, 22, 24};
  m.drop_cell_mask = true;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, m)), -1);
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 3, m)), -1);
  EXPECT_EQ(dec->obs.count, 0);
}

TEST_F(MsmObservations, DataLongerThanTheFrameIsRefused) {
  MsmMessage m;
  m.sats = {Sat(1), Sat(2)};
  m.signals = {2, 16};
  m.drop_data = true;
  for (int kind = 4; kind <= 7; ++kind) {
    EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, kind, m)), -1) << "MSM" << kind;
  }
  EXPECT_EQ(dec->obs.count, 0);
}

TEST_F(MsmObservations, PaddingAfterTheDataIsIgnored) {
  MsmMessage m;
  m.sats = {Sat(1)};
  m.signals = {2};
  m.extra_bits = 40;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 6, m)), 1);
  EXPECT_EQ(dec->obs.count, 1);
}

// ---- scaling and invalid markers ----

TEST_F(MsmObservations, InvalidFinePseudorangeLeavesTheRangeEmptyButKeepsThePhase) {
  MsmMessage m;
  m.sats = {Sat(4)};
  m.signals = {2};
  MsmCell c;
  c.fine_range = -524288;
  c.fine_phase = 1 << 20;
  m.cells = {c};
  Feed(dec.get(), MsmFrame(SYS_GPS, 7, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).range[0], 0.0);
  EXPECT_NEAR(Record(0).phase[0], (RoughRange(70, 512) + P2(-11) * kLightMs) / kL1, 1e-6);
}

TEST_F(MsmObservations, InvalidFinePhaseLeavesThePhaseEmptyButKeepsTheRange) {
  MsmMessage m;
  m.sats = {Sat(4)};
  m.signals = {2};
  MsmCell c;
  c.fine_range = -16383;
  c.fine_phase = -2097152;
  m.cells = {c};
  Feed(dec.get(), MsmFrame(SYS_GPS, 4, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_NEAR(Record(0).range[0], RoughRange(70, 512) - 16383 * P2(-24) * kLightMs, 1e-6);
  EXPECT_EQ(Record(0).phase[0], 0.0);
}

TEST_F(MsmObservations, InvalidRoughRangeLeavesRangesAndPhasesEmptyButSetsTheRest) {
  MsmMessage m;
  m.sats = {Sat(6, 255, 100)};
  m.signals = {2, 16};
  MsmCell a;
  a.fine_range = 100;
  a.fine_phase = 100;
  a.lock = 0;
  a.cnr = 640;  // 40 dB-Hz
  MsmCell b = a;
  b.lock = 7;
  m.cells = {a, b};
  Feed(dec.get(), MsmFrame(SYS_GPS, 6, m));
  ASSERT_EQ(dec->obs.count, 1);
  const ObsRecord& r = Record(0);
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(r.range[s], 0.0);
    EXPECT_EQ(r.phase[s], 0.0);
    EXPECT_EQ(r.snr[s], 160);
  }
  EXPECT_EQ(r.lli[0], 1);  // lock indicator 0
  EXPECT_EQ(r.lli[1], 0);
  EXPECT_EQ(r.code[0], 1);
  EXPECT_EQ(r.code[1], 17);
}

TEST_F(MsmObservations, DopplerComesFromRoughAndFineRates) {
  MsmMessage m;
  MsmSat s = Sat(8);
  s.rate = -500;
  m.sats = {s};
  m.signals = {2, 16};
  MsmCell a;
  a.fine_rate = 1234;
  MsmCell b;
  b.fine_rate = -16384;  // invalid
  m.cells = {a, b};
  Feed(dec.get(), MsmFrame(SYS_GPS, 5, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_NEAR(Record(0).doppler[0], -(-500 + 0.1234) / kL1, 1e-3);
  EXPECT_EQ(Record(0).doppler[1], 0.0f);
}

TEST_F(MsmObservations, HighResolutionCnrIsKeptInQuarterDecibels) {
  MsmMessage m;
  m.sats = {Sat(2)};
  m.signals = {2};
  MsmCell c;
  c.cnr = 700;  // 43.75 dB-Hz
  m.cells = {c};
  Feed(dec.get(), MsmFrame(SYS_GPS, 6, m));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).snr[0], 175);
}

TEST_F(MsmObservations, FallingLockIndicatorAndHalfCycleFlagMarkTheLossOfLockIndicator) {
  struct Step {
    uint32_t lock;
    int half;
    int lli;
  };
  const Step steps[] = {{600, 0, 0}, {500, 0, 1}, {500, 1, 3}, {400, 1, 4}, {0, 0, 1}};
  uint32_t tow = kTowMs;
  for (const Step& step : steps) {
    MsmMessage m;
    m.epoch_ms = tow;
    tow += 1000;
    m.sats = {Sat(11)};
    m.signals = {2};
    MsmCell c;
    c.lock = step.lock;
    c.half = step.half;
    m.cells = {c};
    Feed(dec.get(), MsmFrame(SYS_GPS, 7, m));
    ASSERT_EQ(dec->obs.count, 1);
    EXPECT_EQ(Record(0).lli[0], step.lli) << "lock " << step.lock;
  }
}

// ---- satellites of the systems ----

TEST_F(MsmObservations, GlonassWavelengthsComeFromTheExtendedInfoWhenGiven) {
  struct Case {
    int kind;
    int info;
    double l1;
    double l2;
  };
  const Case cases[] = {
      {5, 7, kC / 1.602e9, kC / 1.246e9},
      {7, 10, kC / (1.602e9 + 3 * 562500.0), kC / (1.246e9 + 3 * 437500.0)},
      {7, 0, kC / (1.602e9 - 7 * 562500.0), kC / (1.246e9 - 7 * 437500.0)},
      {5, 15, kL1, kL2},
      {7, 14, kL1, kL2},
      {4, 7, kL1, kL2},
      {6, 7, kL1, kL2},
  };
  uint32_t tow = kTowMs;
  for (const Case& c : cases) {
    MsmMessage m;
    m.epoch_ms = tow;
    tow += 1000;
    MsmSat s = Sat(1);
    s.info = c.info;
    m.sats = {s};
    m.signals = {2, 8};  // 1C, 2C
    ASSERT_EQ(Feed(dec.get(), MsmFrame(SYS_GLONASS, c.kind, m)), 1);
    ASSERT_EQ(dec->obs.count, 1);
    EXPECT_EQ(Record(0).sat, 34);
    const double rough = RoughRange(70, 512);
    EXPECT_NEAR(Record(0).phase[0], rough / c.l1, 1e-6) << "MSM" << c.kind << " info " << c.info;
    EXPECT_NEAR(Record(0).phase[1], rough / c.l2, 1e-6) << "MSM" << c.kind << " info " << c.info;
    EXPECT_EQ(Record(0).code[1], 14);
  }
  EXPECT_EQ(SignalRow(1), "L1C,L2C");
}

TEST_F(MsmObservations, GlonassKeepsOnlySlotOne) {
  MsmMessage m;
  m.sats = {Sat(1), Sat(2), Sat(24)};
  m.signals = {2};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GLONASS, 7, m)), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 34);
  EXPECT_EQ(Record(0).time.time, GpsTime(kTowMs).time);
}

TEST_F(MsmObservations, SbasIdsAreOffsetTo120AndNumberedFrom33) {
  MsmMessage m;
  m.sats = {Sat(1), Sat(2), Sat(23), Sat(24)};  // PRN 120, 121, 142, 143
  m.signals = {2};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_SBAS, 4, m)), 1);
  ASSERT_EQ(dec->obs.count, 3);
  EXPECT_EQ(Record(0).sat, 33);
  EXPECT_EQ(Record(1).sat, 34);
  EXPECT_EQ(Record(2).sat, 55);
  EXPECT_EQ(SignalRow(4), "L1C");
}

TEST_F(MsmObservations, GalileoMessageEndsTheEpochButStoresNothing) {
  MsmMessage m;
  m.sats = {Sat(7), Sat(8)};
  m.signals = {2, 15};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GALILEO, 4, m)), 1);
  EXPECT_EQ(dec->obs.count, 0);
  EXPECT_EQ(dec->epoch_complete, 1);
  EXPECT_EQ(SignalRow(2), "L1C,L7Q");
}

TEST_F(MsmObservations, QzssSatellitesHaveNoNumber) {
  MsmMessage m;
  m.sats = {Sat(2)};
  m.signals = {2, 17, 24, 32};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_QZSS, 7, m)), 1);
  EXPECT_EQ(dec->obs.count, 0);
  EXPECT_EQ(SignalRow(3), "L1C,L2X,L5X,L1X");
}

TEST_F(MsmObservations, BeidouEpochIsFourteenSecondsAfterItsTimeOfWeek) {
  MsmMessage m;
  m.epoch_ms = kTowMs - 14000;
  m.sats = {Sat(7)};
  m.signals = {2};
  m.sync = 1;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_BEIDOU, 7, m)), 0);
  EXPECT_EQ(dec->time.time, GpsTime(kTowMs).time);
  EXPECT_NEAR(dec->time.sec, 0.0, 1e-6);
}

// ---- epochs ----

TEST_F(MsmObservations, MessagesOfSeveralSystemsAtOneInstantFormOneEpoch) {
  MsmMessage gps;
  gps.sync = 1;
  gps.sats = {Sat(5), Sat(7)};
  gps.signals = {2, 16};
  MsmMessage beidou = gps;
  beidou.epoch_ms = kTowMs - 14000;
  MsmMessage glonass;
  glonass.sats = {Sat(1)};
  glonass.signals = {2, 8};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, gps)), 0);
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_BEIDOU, 7, beidou)), 0);
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GLONASS, 7, glonass)), 1);
  ASSERT_EQ(dec->obs.count, 3);
  EXPECT_EQ(Record(0).sat, 5);
  EXPECT_EQ(Record(1).sat, 7);
  EXPECT_EQ(Record(2).sat, 34);

  MsmMessage next;
  next.epoch_ms = kTowMs + 1000;
  next.sats = {Sat(9)};
  next.signals = {2};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 4, next)), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 9);
}

TEST_F(MsmObservations, HeaderOnlyMessagesEndOrContinueAnEpochWithoutTouchingIt) {
  MsmMessage m;
  m.sats = {Sat(5)};
  m.signals = {2};
  m.cells = {MsmCell{100, 200, 3, 0, 500, 0}};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 6, m)), 1);
  const ObsRecord before = Record(0);

  MsmMessage header = m;
  header.sync = 1;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 1, header)), 0);
  EXPECT_EQ(dec->epoch_complete, 0);
  header.sync = 0;
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GLONASS, 2, header)), 1);
  EXPECT_EQ(dec->epoch_complete, 1);
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_BEIDOU, 3, header)), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).phase[0], before.phase[0]);
  EXPECT_EQ(Record(0).range[0], before.range[0]);
  EXPECT_EQ(dec->message_counts[71], 1u);
  EXPECT_EQ(dec->message_counts[82], 1u);
  EXPECT_EQ(dec->message_counts[123], 1u);
}

TEST_F(MsmObservations, MessageOfAnotherStationInsideAnEpochIsRefused) {
  MsmMessage m;
  m.sync = 1;
  m.sats = {Sat(5)};
  m.signals = {2};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, m)), 0);
  m.staid = 300;
  m.sats = {Sat(6)};
  EXPECT_EQ(Feed(dec.get(), MsmFrame(SYS_GPS, 7, m)), -1);
  EXPECT_EQ(dec->staid, 0);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 5);
}

// ---- through the summary ----

TEST(MsmSummary, EpochSplitAcrossReadsIsPrintedOnceByTheReadThatCompletesIt) {
  MsmMessage gps;
  gps.sync = 1;
  gps.sats = {Sat(5)};
  gps.signals = {2, 16};
  MsmMessage glonass;
  MsmSat slot1 = Sat(1);
  slot1.info = 7;  // channel 0
  glonass.sats = {slot1};
  glonass.signals = {2};
  const std::string all = fixtures::AsString(
      fixtures::Concat({MsmFrame(SYS_GPS, 7, gps), MsmFrame(SYS_GLONASS, 7, glonass)}));
  rtcm::ChunkSummarizer summarizer([] { return PinnedUtcNow(); });
  int last = 0;
  const size_t cut = all.size() - 20;
  EXPECT_EQ(summarizer.Feed(all.substr(0, cut), &last), "");
  const std::string text = summarizer.Feed(all.substr(cut), &last);
  EXPECT_EQ(last, 1);
  const double rough = RoughRange(70, 512);
  char expected[400];
  std::snprintf(expected, sizeof expected,
                "Station id: 100\n"
                "GPS satellite PRN: 5 L1: %f L2: %f Time: %lld\n"
                "GPS satellite PRN: 34 L1: %f L2: %f Time: %lld\n",
                rough / kL1, rough / kL2, static_cast<long long>(GpsTime(kTowMs).time),
                rough / (kC / 1.602e9), 0.0, static_cast<long long>(GpsTime(kTowMs).time));
  EXPECT_EQ(text, expected);
}

TEST(MsmSummary, ThreeSatelliteMessageInOneChunkPrintsTheStationAndThreeLines) {
  MsmMessage m;
  m.sats = {Sat(1), Sat(2), Sat(3)};
  m.signals = {2};
  int last = 0;
  const std::string text =
      rtcm::ChunkSummarizer().Feed(fixtures::AsString(MsmFrame(SYS_GPS, 4, m)), &last);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(text.rfind("Station id: 100\nGPS satellite PRN: 1 L1: ", 0), 0u) << text;
  EXPECT_NE(text.find("\nGPS satellite PRN: 3 L1: "), std::string::npos) << text;
}

// ---- robustness ----

TEST(ObservationRobustness, RandomBodiesOfEveryObservationTypeGiveOnlyValidResults) {
  std::mt19937 random(12345);
  std::vector<int> types = {1001, 1002, 1003, 1004, 1009, 1010, 1011, 1012};
  for (int base = 1070; base <= 1120; base += 10) {
    for (int kind = 1; kind <= 7; ++kind) types.push_back(base + kind);
  }
  DecoderPtr dec = PinnedDecoder();
  for (int round = 0; round < 40; ++round) {
    for (int type : types) {
      const int length = static_cast<int>(random() % 1000);
      // Sparse bytes in odd rounds, so that MSM masks stay within the 64-cell limit.
      const bool sparse = round % 2 == 1;
      BitWriter w;
      for (int i = 0; i * 8 < length * 8 - 12; ++i)
        w.Unsigned((sparse ? random() & random() & random() : random()) & 0xff, 8);
      const int result = Feed(dec.get(), fixtures::FrameOf(type, w));
      EXPECT_TRUE(result == -1 || result == 0 || result == 1) << type << " " << result;
      ASSERT_GE(dec->obs.count, 0);
      ASSERT_LE(dec->obs.count, rtcm::MAX_OBS);
      for (const auto& row : dec->msm_signals) {
        ASSERT_NE(std::memchr(row, '\0', sizeof row), nullptr);
      }
    }
  }
}

}  // namespace
