// Feature stage: magnitudes and running sums of the first samples, the
// warm-up boundary and the single advance of the ring position per sample.
#include <gtest/gtest.h>

#include <cmath>

#include "DetectorTestSupport.h"

namespace {

using detectortest::Detector;
using detectortest::kFreeFall;
using detectortest::kUpright;
using detectortest::uprightPeak;

// Every magnitude of an all-zero first sample is 0, and the running sums
// drop exactly one 1 g ring entry (accSum 1500 -> 1400, rawAccSum3 300 -> 200).
TEST(DetectorFeatures, ZeroSampleOnFreshContextDropsOneInitialRingEntry) {
  Detector detector;
  const VelmoraObservation features = detector.inspect(kFreeFall);
  EXPECT_EQ(features.accMag, 0);
  EXPECT_EQ(features.rawAccMag, 0);
  EXPECT_EQ(features.gyroMag, 0);
  EXPECT_EQ(features.rawGyroMag, 0);
  EXPECT_EQ(features.accAvg, 93);
  EXPECT_EQ(features.gyroAvg, 0);
  const DetectorContext& context = detector.context();
  EXPECT_EQ(context.accSum, 1400);
  EXPECT_EQ(context.rawAccSum3, 200);
  EXPECT_EQ(context.gyroSum5, 0);
  EXPECT_EQ(context.gyroSum3, 0);
}

// The raw magnitude follows the sensor at once; the smoothed one starts
// from a zero filter state (b0 x 1 g = 0.0590... g on the first sample).
TEST(DetectorFeatures, FirstOneGSampleIsRawFullAndSmoothedNearZero) {
  Detector detector;
  const VelmoraObservation features = detector.inspect(SampleRecord{0, 0, 8192, 0, 0, 0});
  EXPECT_EQ(features.rawAccMag, 100);
  EXPECT_EQ(features.accMag, 5);
}

// A raw magnitude just below a whole hundredth truncates down.
TEST(DetectorFeatures, RawMagnitudeTruncatesTowardZero) {
  Detector detector;
  // 10157 / 8192 = 1.23986 g.
  EXPECT_EQ(detector.inspect(SampleRecord{0, -10157, 0, 0, 0, 0}).rawAccMag, 123);
  EXPECT_EQ(detector.inspect(uprightPeak(174)).rawAccMag, 174);
}

// Standing still reads upright; lying on the back does not.
TEST(DetectorFeatures, PostureFlagFollowsTheSettledAttitude) {
  Detector standing;
  VelmoraObservation features{};
  for (int i = 0; i < 60; ++i) {
    features = standing.inspect(kUpright);
  }
  EXPECT_EQ(features.postureFlag, 'O');
  EXPECT_EQ(features.roll, 0);

  Detector lying;
  for (int i = 0; i < 60; ++i) {
    features = lying.inspect(SampleRecord{0, 0, 8192, 0, 0, 0});
  }
  EXPECT_EQ(features.postureFlag, 'X');
}

// Samples 0..39 only build features: whatever they hold, no event word
// moves. Sample 40 is the first to reach the event stage.
TEST(DetectorFeatures, WarmUpEndsExactlyAtSampleForty) {
  Detector detector;
  const SampleRecord loud = uprightPeak(250);
  const SampleRecord turning{9000, -20000, 0, 30000, 30000, 0};
  for (int i = 0; i < 40; ++i) {
    // Impacts, free falls and fast turns that would all register later.
    const SampleRecord sample = i % 3 == 0 ? loud : i % 3 == 1 ? kFreeFall : turning;
    ASSERT_EQ(detector.process(sample), 0) << "sample " << i;
  }
  const DetectorContext& context = detector.context();
  ASSERT_EQ(context.sampleIndex, 40);
  EXPECT_EQ(context.jumpStart, -1);
  EXPECT_EQ(context.jumpEnd, 0);
  EXPECT_EQ(context.jumpPeak, 0);
  EXPECT_EQ(context.impactAccum, 0);
  EXPECT_EQ(context.turnRun, 0);
  EXPECT_EQ(context.lowRun, 0);
  EXPECT_EQ(context.lowEventPos, 0);
  EXPECT_EQ(context.stillRun, 0);
  EXPECT_EQ(context.stillLen, 0);
  EXPECT_EQ(context.stillEventPos, 0);
  EXPECT_EQ(context.peakWindowEnd, 0);
  EXPECT_EQ(context.postPeak, 0);

  // The same turning impact one sample later starts the turn counter and
  // the impact accumulator.
  detector.process(turning);
  EXPECT_EQ(context.turnRun, 1);
  EXPECT_EQ(context.impactStart, 40);
  EXPECT_GT(context.impactAccum, 0);
}

TEST(DetectorFeatures, EverySampleAdvancesRingPosAndIndexOnce) {
  Detector detector;
  for (int i = 0; i < 64; ++i) {
    detector.process(kUpright);
  }
  EXPECT_EQ(detector.context().ringPos, 0);
  EXPECT_EQ(detector.context().sampleIndex, 64);
}

}  // namespace

// The four comparisons of the upright test are strict: an angle exactly at
// a limit fails, one degree inside passes.
TEST(DetectorFeatures, PostureTestIsStrictAtEachLimit) {
  const DetectorSettings s = detectortest::defaultSettings();
  struct Case {
    int32_t roll;
    int32_t pitch;
    char flag;
  };
  const Case cases[] = {
      {s.rollLimit - 1, 0, 'O'},       {s.rollLimit, 0, 'X'},
      {1 - s.rollLimit, 0, 'O'},       {-s.rollLimit, 0, 'X'},
      {0, s.pitchUprightMin + 1, 'O'}, {0, s.pitchUprightMin, 'X'},
      {0, s.pitchMax - 1, 'O'},        {0, s.pitchMax, 'X'},
  };
  for (const Case& c : cases) {
    Detector detector;
    const SampleMeasurement measured{kUpright, 100, 100, 0, 0, c.roll, c.pitch};
    VelmoraObservation observed{};
    VelmoraDecideObserved(&detector.context(), &measured, &observed);
    EXPECT_EQ(observed.postureFlag, c.flag) << "roll " << c.roll << ", pitch " << c.pitch;
  }
}

// Angles truncate toward zero: a lean of -10.7 degrees reads -10, not -11.
// With no rate and no acceleration the first update leaves the orientation
// as it was set, so the angles come from that orientation alone.
TEST(DetectorFeatures, NegativeAnglesTruncateTowardZero) {
  const double half = -10.7 * 3.141592653589793 / 180.0 / 2.0;
  struct Case {
    velmora::algebra::Quaternion orientation;
    int32_t roll;
    int32_t pitch;
  };
  const Case cases[] = {
      {{std::cos(half), 0, std::sin(half), 0}, -10, -90},     // about y: roll
      {{std::cos(half), std::sin(half), 0, 0}, 0, -10 - 90},  // about x: pitch
  };
  for (const Case& c : cases) {
    Detector detector;
    *detector.context().attitude.orientation = c.orientation;
    SampleMeasurement measured{};
    ASSERT_EQ(VelmoraMeasure(&detector.context(), &kFreeFall, &measured), 0);
    EXPECT_EQ(measured.roll, c.roll);
    EXPECT_EQ(measured.pitch, c.pitch);
  }
}
