// Legacy GPS and GLONASS observation messages, fed as whole frames to a decoder with a pinned
// clock.
#include <gtest/gtest.h>

#include <string>

#include "obs_frames.h"
#include "rtcm/legacy_obs.h"
#include "rtcm/summary.h"

namespace {

using namespace obs_test;
using rtcm::ObsRecord;

// GLONASS wavelengths of channel number k.
double GlonassL1(int k) {
  return kC / (1.602e9 + k * 562500.0);
}
double GlonassL2(int k) {
  return kC / (1.246e9 + k * 437500.0);
}

// Phase-range difference (0.0005 m units) that is nearest to the given cycles on GPS L1.
int32_t L1DifferenceFor(double cycles) {
  return static_cast<int32_t>(cycles * kL1 / 0.0005 + (cycles < 0 ? -0.5 : 0.5));
}

class LegacyObservations : public ::testing::Test {
 protected:
  const ObsRecord& Record(int index) const { return dec->obs.records[index]; }
  DecoderPtr dec = PinnedDecoder();
};

// ---- GPS L1 and L2 ----

TEST_F(LegacyObservations, GpsL1RangeIsAmbiguityTimesModulusPlusRangeAndPhaseAddsTheDifference) {
  LegacySat s;
  s.id = 5;
  s.ambiguity = 70;
  s.l1_range = 100000;     // 2000 m
  s.l1_phase_diff = 2000;  // 1 m
  s.l1_code = 1;
  s.l1_cnr = 180;
  s.l1_lock = 20;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1002, {}, {s})), 1);

  ASSERT_EQ(dec->obs.count, 1);
  const ObsRecord& r = Record(0);
  const double pr1 = 70 * 299792.458 + 2000.0;
  EXPECT_EQ(r.sat, 5);
  EXPECT_NEAR(r.range[0], pr1, 1e-6);
  EXPECT_NEAR(r.phase[0], (pr1 + 1.0) / kL1, 1e-6);
  EXPECT_EQ(r.code[0], 2);  // 1P
  EXPECT_EQ(r.snr[0], 180);
  EXPECT_EQ(r.lli[0], 0);
  EXPECT_EQ(r.phase[1], 0.0);
  EXPECT_EQ(r.time.time, GpsTime(kTowMs).time);
  EXPECT_EQ(dec->staid, 100);
}

TEST_F(LegacyObservations, GpsL2RangeAndPhaseComeFromTheirDifferencesToL1) {
  LegacySat s;
  s.id = 12;
  s.ambiguity = 75;
  s.l1_range = 50000;       // 1000 m
  s.l2_range_diff = -150;   // -3 m
  s.l2_phase_diff = -4000;  // -2 m
  s.l2_cnr = 140;
  s.l2_lock = 5;
  s.l2_code = 3;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, {}, {s})), 1);

  ASSERT_EQ(dec->obs.count, 1);
  const ObsRecord& r = Record(0);
  const double pr1 = 75 * 299792.458 + 1000.0;
  EXPECT_NEAR(r.range[1], pr1 - 3.0, 1e-6);
  EXPECT_NEAR(r.phase[1], pr1 / kL2 - 2.0 / kL2, 1e-6);
  EXPECT_EQ(r.code[0], 1);   // 1C
  EXPECT_EQ(r.code[1], 20);  // 2W
  EXPECT_EQ(r.snr[1], 140);
}

TEST_F(LegacyObservations, GpsL2CodeIndicatorsMapToTheirCodeNumbers) {
  std::vector<LegacySat> sats;
  for (int indicator = 0; indicator < 4; ++indicator) {
    LegacySat s;
    s.id = 1 + indicator;
    s.l2_code = indicator;
    sats.push_back(s);
  }
  Feed(dec.get(), LegacyFrame(1004, {}, sats));
  ASSERT_EQ(dec->obs.count, 4);
  EXPECT_EQ(Record(0).code[1], 18);  // 2X
  EXPECT_EQ(Record(1).code[1], 19);  // 2P
  EXPECT_EQ(Record(2).code[1], 15);  // 2D
  EXPECT_EQ(Record(3).code[1], 20);  // 2W
}

TEST_F(LegacyObservations, InvalidL2RangeDifferenceLeavesOnlyTheL2RangeEmpty) {
  LegacySat s;
  s.id = 3;
  s.ambiguity = 70;
  s.l2_range_diff = -8192;
  s.l2_phase_diff = 100;
  Feed(dec.get(), LegacyFrame(1004, {}, {s}));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).range[1], 0.0);
  EXPECT_NE(Record(0).phase[1], 0.0);
  EXPECT_NE(Record(0).range[0], 0.0);
}

TEST_F(LegacyObservations, SbasIdsFortyAndFortyOneBecomeSatellites33And34) {
  LegacySat a;
  a.id = 40;
  LegacySat b;
  b.id = 41;
  Feed(dec.get(), LegacyFrame(1002, {}, {a, b}));
  ASSERT_EQ(dec->obs.count, 2);
  EXPECT_EQ(Record(0).sat, 33);
  EXPECT_EQ(Record(1).sat, 34);
}

TEST_F(LegacyObservations, SatelliteWithoutANumberIsSkippedAndTheRestStored) {
  LegacySat unnumbered;
  unnumbered.id = 63;  // SBAS PRN 143: outside the numbering
  LegacySat gps;
  gps.id = 7;
  LegacySat zero;
  zero.id = 0;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, {}, {unnumbered, zero, gps})), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 7);
}

// ---- invalid markers, rollover, loss of lock, snr ----

TEST_F(LegacyObservations, InvalidPhaseDifferenceLeavesRangeAndPhaseEmptyButSetsTheRest) {
  LegacySat s;
  s.id = 9;
  s.ambiguity = 70;
  s.l1_range = 1000;
  s.l1_phase_diff = -524288;
  s.l1_cnr = 160;
  s.l1_lock = 0;
  s.l1_code = 1;
  Feed(dec.get(), LegacyFrame(1002, {}, {s}));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).range[0], 0.0);
  EXPECT_EQ(Record(0).phase[0], 0.0);
  EXPECT_EQ(Record(0).snr[0], 160);
  EXPECT_EQ(Record(0).lli[0], 1);
  EXPECT_EQ(Record(0).code[0], 2);
}

TEST_F(LegacyObservations, PhaseJumpBeyond750CyclesIsFoldedBackByOneStepOf1500) {
  LegacySat s;
  s.id = 5;
  s.ambiguity = 70;
  s.l1_phase_diff = L1DifferenceFor(1000.0);
  Feed(dec.get(), LegacyFrame(1002, {}, {s}));
  const double first = s.l1_phase_diff * 0.0005 / kL1;
  EXPECT_NEAR(dec->legacy_phase[4][0], first, 1e-9);

  s.l1_phase_diff = L1DifferenceFor(-600.0);
  LegacyHeader next;
  next.epoch_ms = kTowMs + 1000;
  Feed(dec.get(), LegacyFrame(1002, next, {s}));
  const double raw = s.l1_phase_diff * 0.0005 / kL1;
  EXPECT_NEAR(dec->legacy_phase[4][0], raw + 1500.0, 1e-9);
  EXPECT_NEAR(dec->legacy_phase[4][0], 900.0, 0.01);
  const double pr1 = 70 * 299792.458;
  EXPECT_NEAR(Record(0).phase[0], pr1 / kL1 + raw + 1500.0, 1e-6);
}

TEST_F(LegacyObservations, PhaseJumpDownwardsIsFoldedTheOtherWay) {
  LegacySat s;
  s.id = 6;
  s.l1_phase_diff = L1DifferenceFor(-1000.0);
  Feed(dec.get(), LegacyFrame(1002, {}, {s}));
  s.l1_phase_diff = L1DifferenceFor(600.0);
  LegacyHeader next;
  next.epoch_ms = kTowMs + 1000;
  Feed(dec.get(), LegacyFrame(1002, next, {s}));
  EXPECT_NEAR(dec->legacy_phase[5][0], -900.0, 0.01);
}

TEST_F(LegacyObservations, PhaseWithinTheWindowIsKeptAsRead) {
  LegacySat s;
  s.id = 6;
  s.l1_phase_diff = L1DifferenceFor(100.0);
  Feed(dec.get(), LegacyFrame(1002, {}, {s}));
  s.l1_phase_diff = L1DifferenceFor(800.0);
  LegacyHeader next;
  next.epoch_ms = kTowMs + 1000;
  Feed(dec.get(), LegacyFrame(1002, next, {s}));
  EXPECT_NEAR(dec->legacy_phase[5][0], 800.0, 0.01);
}

TEST_F(LegacyObservations, LockIndicatorThatFallsOrIsZeroMarksLossOfLock) {
  struct Step {
    int lock;
    int lli;
  };
  const Step steps[] = {{10, 0}, {9, 1}, {10, 0}, {10, 0}, {0, 1}, {0, 1}, {3, 0}};
  uint32_t tow = kTowMs;
  for (const Step& step : steps) {
    LegacySat s;
    s.id = 8;
    s.l1_lock = step.lock;
    s.l2_lock = step.lock;
    LegacyHeader h;
    h.epoch_ms = tow;
    tow += 1000;
    Feed(dec.get(), LegacyFrame(1004, h, {s}));
    ASSERT_EQ(dec->obs.count, 1);
    EXPECT_EQ(Record(0).lli[0], step.lli) << "lock " << step.lock;
    EXPECT_EQ(Record(0).lli[1], step.lli) << "lock " << step.lock;
  }
}

TEST_F(LegacyObservations, CnrOfZeroGivesNoSnrAndOtherValuesAreKeptInQuarterDecibels) {
  LegacySat none;
  none.id = 1;
  none.l1_cnr = 0;
  LegacySat strong;
  strong.id = 2;
  strong.l1_cnr = 180;
  LegacySat top;
  top.id = 3;
  top.l1_cnr = 255;
  Feed(dec.get(), LegacyFrame(1002, {}, {none, strong, top}));
  ASSERT_EQ(dec->obs.count, 3);
  EXPECT_EQ(Record(0).snr[0], 0);
  EXPECT_EQ(Record(1).snr[0], 180);
  EXPECT_EQ(Record(2).snr[0], 255);
}

// ---- GLONASS ----

TEST_F(LegacyObservations, GlonassKeepsOnlySlotOneAsSatellite34) {
  std::vector<LegacySat> sats;
  for (int slot : {2, 1, 3, 24}) {
    LegacySat s;
    s.id = slot;
    sats.push_back(s);
  }
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1010, {}, sats)), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 34);
  EXPECT_EQ(Record(0).time.time, GpsTime(kTowMs).time);
}

TEST_F(LegacyObservations, GlonassWavelengthsFollowTheChannelNumber) {
  LegacySat s;
  s.id = 1;
  s.channel = 7 + 3;
  s.ambiguity = 40;
  s.l1_range = 200000;      // 4000 m
  s.l1_phase_diff = 3000;   // 1.5 m
  s.l2_range_diff = 50;     // 1 m
  s.l2_phase_diff = -1000;  // -0.5 m
  s.l2_code = 0;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1012, {}, {s})), 1);
  ASSERT_EQ(dec->obs.count, 1);
  const ObsRecord& r = Record(0);
  const double pr1 = 40 * 599584.916 + 4000.0;
  EXPECT_NEAR(r.range[0], pr1, 1e-6);
  EXPECT_NEAR(r.phase[0], (pr1 + 1.5) / GlonassL1(3), 1e-6);
  EXPECT_NEAR(r.range[1], pr1 + 1.0, 1e-6);
  EXPECT_NEAR(r.phase[1], (pr1 - 0.5) / GlonassL2(3), 1e-6);
  EXPECT_EQ(r.code[0], 1);   // 1C
  EXPECT_EQ(r.code[1], 14);  // 2C
}

TEST_F(LegacyObservations, GlonassNegativeChannelAndPCodeOnL2) {
  LegacySat s;
  s.id = 1;
  s.channel = 0;  // channel -7
  s.l1_phase_diff = 2000;
  s.l1_code = 1;
  s.l2_code = 2;
  s.l2_phase_diff = 2000;
  Feed(dec.get(), LegacyFrame(1012, {}, {s}));
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_NEAR(Record(0).phase[0], 1.0 / GlonassL1(-7), 1e-9);
  EXPECT_NEAR(Record(0).phase[1], 1.0 / GlonassL2(-7), 1e-9);
  EXPECT_EQ(Record(0).code[0], 2);   // 1P
  EXPECT_EQ(Record(0).code[1], 19);  // 2P
}

// ---- headers, short frames, sync and epochs ----

TEST_F(LegacyObservations, HeaderShorterThanItsFixedPartIsRefused) {
  EXPECT_EQ(Feed(dec.get(), fixtures::FrameOfLength(1002, 7)), -1);
  EXPECT_EQ(Feed(dec.get(), fixtures::FrameOfLength(1001, 7)), -1);
  EXPECT_EQ(Feed(dec.get(), fixtures::FrameOfLength(1012, 7)), -1);
  EXPECT_EQ(dec->obs.count, 0);
  EXPECT_EQ(dec->time.time, 0);
  EXPECT_EQ(dec->message_counts[2], 0u);
}

TEST_F(LegacyObservations, FrameShorterThanTheAnnouncedSatellitesKeepsThoseThatFit) {
  LegacySat a;
  a.id = 1;
  LegacySat b;
  b.id = 2;
  LegacyHeader h;
  h.nsat = 3;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, h, {a, b})), 1);
  EXPECT_EQ(dec->obs.count, 2);

  h.sync = 1;
  h.epoch_ms += 1000;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1012, h, {})), 0);
}

TEST_F(LegacyObservations, HeaderOnlyMessageWithSyncZeroCompletesAnEpochWithoutSatellites) {
  LegacySat s;
  s.id = 1;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1001, {}, {s})), 1);
  EXPECT_EQ(dec->obs.count, 0);
  EXPECT_EQ(dec->staid, 100);
  EXPECT_EQ(dec->time.time, GpsTime(kTowMs).time);
  EXPECT_EQ(dec->epoch_complete, 1);

  LegacyHeader h;
  h.sync = 1;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1003, h, {s})), 0);
  EXPECT_EQ(dec->obs.count, 0);
}

TEST_F(LegacyObservations, HeaderOnlyGlonassMessageSetsTheTimeFromTheTimeOfDay) {
  LegacyHeader h;
  h.epoch_ms = kTowMs + 3000;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1009, h, {})), 1);
  EXPECT_EQ(dec->time.time, GpsTime(kTowMs + 3000).time);
  EXPECT_NEAR(dec->time.sec, 0.0, 1e-6);
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1011, h, {})), 1);
}

TEST_F(LegacyObservations, HeaderOnlyMessageAfterAnEpochLeavesItsRecordsInPlace) {
  LegacySat s;
  s.id = 4;
  s.l1_phase_diff = 500;
  Feed(dec.get(), LegacyFrame(1004, {}, {s}));
  const double phase = Record(0).phase[0];
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1003, {}, {})), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).phase[0], phase);
}

TEST_F(LegacyObservations, L1L2MessagesCompleteTheEpochButL1OnlyMessagesDoNot) {
  LegacySat s;
  s.id = 4;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1002, {}, {s})), 1);
  EXPECT_EQ(dec->epoch_complete, 0);
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, {}, {s})), 1);
  EXPECT_EQ(dec->epoch_complete, 1);
  LegacyHeader h;
  h.sync = 1;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1012, h, {})), 0);
  EXPECT_EQ(dec->epoch_complete, 0);
}

TEST_F(LegacyObservations, GpsAndGlonassMessagesOfOneInstantFormOneEpoch) {
  LegacySat gps1;
  gps1.id = 2;
  LegacySat gps2;
  gps2.id = 30;
  LegacySat glo;
  glo.id = 1;
  LegacyHeader first;
  first.sync = 1;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, first, {gps1, gps2})), 0);
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1012, {}, {glo})), 1);
  ASSERT_EQ(dec->obs.count, 3);
  EXPECT_EQ(Record(0).sat, 2);
  EXPECT_EQ(Record(1).sat, 30);
  EXPECT_EQ(Record(2).sat, 34);

  // The next instant starts a new epoch.
  LegacyHeader later;
  later.epoch_ms = kTowMs + 1000;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, later, {gps2})), 1);
  ASSERT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Record(0).sat, 30);
  EXPECT_EQ(Record(0).time.time, GpsTime(kTowMs + 1000).time);
}

TEST_F(LegacyObservations, MessageOfAnotherStationInsideAnEpochIsRefused) {
  LegacySat s;
  s.id = 2;
  LegacyHeader first;
  first.sync = 1;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, first, {s})), 0);
  LegacyHeader other;
  other.staid = 200;
  s.id = 3;
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, other, {s})), -1);
  EXPECT_EQ(dec->staid, 0);
  EXPECT_EQ(dec->obs.count, 1);
  EXPECT_EQ(Feed(dec.get(), LegacyFrame(1004, other, {s})), 1);
  EXPECT_EQ(dec->staid, 200);
}

// ---- through the summary ----

TEST(LegacySummary, EpochOfTwoMessagesPrintsOneBlockWithBothSystems) {
  LegacySat gps;
  gps.id = 5;
  gps.ambiguity = 70;
  gps.l1_phase_diff = 2000;
  gps.l2_phase_diff = 2000;
  LegacySat glo;
  glo.id = 1;
  LegacyHeader first;
  first.sync = 1;
  const std::string chunk = fixtures::AsString(
      fixtures::Concat({LegacyFrame(1004, first, {gps}), LegacyFrame(1012, {}, {glo})}));
  rtcm::ChunkSummarizer summarizer([] { return PinnedUtcNow(); });
  int last = 0;
  const std::string text = summarizer.Feed(chunk, &last);
  EXPECT_EQ(last, 1);
  const double pr1 = 70 * 299792.458;
  char line[160];
  std::snprintf(line, sizeof line, "GPS satellite PRN: 5 L1: %f L2: %f Time: %lld\n",
                (pr1 + 1.0) / kL1, (pr1 + 1.0) / kL2, static_cast<long long>(GpsTime(kTowMs).time));
  char glonass_line[160];
  std::snprintf(glonass_line, sizeof glonass_line,
                "GPS satellite PRN: 34 L1: %f L2: %f Time: %lld\n", 0.0, 0.0,
                static_cast<long long>(GpsTime(kTowMs).time));
  EXPECT_EQ(text, std::string("Station id: 100\n") + line + glonass_line);
}

TEST(LegacySummary, EpochSplitAcrossReadsIsPrintedByTheReadThatCompletesIt) {
  LegacySat gps;
  gps.id = 5;
  LegacyHeader first;
  first.sync = 1;
  const Bytes stream =
      fixtures::Concat({LegacyFrame(1004, first, {gps}), LegacyFrame(1012, {}, {LegacySat{}})});
  const std::string all = fixtures::AsString(stream);
  rtcm::ChunkSummarizer summarizer([] { return PinnedUtcNow(); });
  int last = 0;
  const size_t cut = all.size() - 7;  // inside the second frame
  EXPECT_EQ(summarizer.Feed(all.substr(0, cut), &last), "");
  EXPECT_EQ(last, 0);
  const std::string text = summarizer.Feed(all.substr(cut), &last);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(text.rfind("Station id: 100\nGPS satellite PRN: 5 ", 0), 0u) << text;
  EXPECT_NE(text.find("GPS satellite PRN: 34 "), std::string::npos) << text;
}

}  // namespace
