// Classification: the posture adjustment, the main decision tree with every
// result code, the four pattern tests that end a sample early, and two
// hand-made falls run end to end.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DetectorTestSupport.h"

namespace {

using detectortest::Detector;
using detectortest::kFreeFall;
using detectortest::kUpright;
using detectortest::TraceCapture;
using velmora::Classification;
using velmora::classifySample;
using velmora::SampleFeatures;

constexpr int32_t kIndex = 100;  // sample index of every constructed state

// Posture history in which each of the newest 64 samples passed the test.
void makeAllUpright(DetectorContext& context) {
  for (int back = 0; back < 64; ++back) {
    context.uprightRing[(context.ringPos - back) & 63] = 1000 - back;
  }
}

// Posture history in which none of the newest 64 samples passed.
void makeNoneUpright(DetectorContext& context) {
  for (int32_t& entry : context.uprightRing) {
    entry = context.uprightCount;
  }
}

// A context at sample kIndex, more than 40 samples after any jump window
// (the far branch), with no posture history, no runs and quiet sums.
void placeAtIndex(DetectorContext& context) {
  context.sampleIndex = kIndex;
  context.ringPos = kIndex & 63;
}

SampleFeatures features(int32_t gyroAvg, int32_t accAvg, char posture) {
  SampleFeatures f{};
  f.accMag = 100;
  f.rawAccMag = 100;
  f.accAvg = accAvg;
  f.gyroAvg = gyroAvg;
  f.postureFlag = posture;
  return f;
}

TEST(DetectorClassify, UprightAdjustFollowsTheUprightCountOfTheLast17Samples) {
  const int32_t expected[18] = {4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, -8, -9, -9, -9, -9, -10, -10};
  Detector detector;
  DetectorContext& context = detector.context();
  placeAtIndex(context);
  for (int32_t n = 0; n <= 17; ++n) {
    context.uprightRing[context.ringPos] = n;
    context.uprightRing[(context.ringPos - 17) & 63] = 0;
    EXPECT_EQ(velmora::uprightAdjust(context), expected[n]) << "n = " << n;
  }
}

// Look-backs are masked to the 64-entry ring: 64 samples back is the
// current slot again.
TEST(DetectorClassify, UprightSpanOf64WrapsToZero) {
  Detector detector;
  DetectorContext& context = detector.context();
  placeAtIndex(context);
  makeAllUpright(context);
  EXPECT_EQ(velmora::uprightSpan(context, 63), 63);
  EXPECT_EQ(velmora::uprightSpan(context, 64), 0);
  EXPECT_EQ(velmora::uprightSpan(context, 65), 1);
}

// Every code of the main tree, the turn test and the burst tests, from a
// state built directly, plus the boundaries next to them.
TEST(DetectorClassify, MainTreeReachesEachCodeFromItsState) {
  struct Case {
    const char* name;
    std::function<void(DetectorContext&)> state;
    SampleFeatures features;
    int32_t code;
    int32_t fallLen;
  };
  const auto near = [](DetectorContext& c) {
    c.jumpStart = kIndex - 40;  // at most 40 samples since the window opened
    c.jumpEnd = kIndex - 30;
  };
  const Case cases[] = {
      // Far branch (jumpStart -1).
      {"1: far, slow, one sample of slack when not upright",
       [](DetectorContext& c) { c.lowRun = 14; }, features(100, 90, 'X'), 1, 14},
      {"no 1 when upright and one sample short", [](DetectorContext& c) { c.lowRun = 14; },
       features(100, 90, 'O'), 0, 14},
      {"101: raw run at lowLevel supplies the length",
       [](DetectorContext& c) {
         c.stillLen = 15;
         c.stillAvg = 60;
         c.lowRun = 3;
       },
       features(100, 90, 'O'), 101, 15},
      {"12: rotating at exactly gyroAvgLow", [](DetectorContext& c) { c.lowRun = 15; },
       features(160, 90, 'O'), 12, 15},
      {"112", [](DetectorContext& c) { c.stillLen = 14; }, features(400, 90, 'X'), 112, 14},
      {"2: short low phase with a low adjusted mean", [](DetectorContext& c) { c.lowRun = 3; },
       features(200, 30, 'O'), 2, 3},
      {"no 2 at gyroAvgHigh", [](DetectorContext& c) { c.lowRun = 3; }, features(360, 30, 'O'), 0,
       3},
      {"102", [](DetectorContext& c) { c.stillLen = 5; }, features(200, 30, 'X'), 102, 5},
      {"far once 41 samples have passed since jumpStart",
       [](DetectorContext& c) {
         c.jumpStart = kIndex - 41;
         c.lowRun = 15;
       },
       features(100, 90, 'O'), 1, 15},
      // Near branch.
      {"3",
       [&](DetectorContext& c) {
         near(c);
         c.lowRun = 15;
       },
       features(100, 90, 'O'), 3, 15},
      {"no 3 one sample short, even when not upright",
       [&](DetectorContext& c) {
         near(c);
         c.lowRun = 14;
       },
       features(100, 90, 'X'), 0, 14},
      {"103",
       [&](DetectorContext& c) {
         near(c);
         c.stillLen = 15;
       },
       features(100, 90, 'O'), 103, 15},
      {"14",
       [&](DetectorContext& c) {
         near(c);
         c.lowRun = 15;
       },
       features(200, 90, 'O'), 14, 15},
      {"114",
       [&](DetectorContext& c) {
         near(c);
         c.stillLen = 20;
       },
       features(359, 90, 'O'), 114, 20},
      // adjAcc = truncate(40 - 40 x 0.04) = 38 < 40; with 42 it is 40.
      {"4",
       [&](DetectorContext& c) {
         near(c);
         c.lowRun = 3;
       },
       features(200, 40, 'O'), 4, 3},
      {"no 4 when adjAcc reaches accAvgLimit",
       [&](DetectorContext& c) {
         near(c);
         c.lowRun = 3;
       },
       features(200, 42, 'O'), 0, 3},
      {"104: a tie between the two runs keeps the raw run",
       [&](DetectorContext& c) {
         near(c);
         c.stillLen = 5;
         c.lowRun = 5;
       },
       features(200, 40, 'O'), 104, 5},
      // Long runs when the length from jumpEnd on is too short for the tree.
      {"9",
       [](DetectorContext& c) {
         c.jumpEnd = kIndex - 1;
         c.lowRun = 33;
       },
       features(100, 90, 'O'), 9, 2},
      {"no 9 one sample short",
       [](DetectorContext& c) {
         c.jumpEnd = kIndex - 1;
         c.lowRun = 32;
       },
       features(100, 90, 'O'), 0, 2},
      {"109",
       [](DetectorContext& c) {
         c.jumpEnd = kIndex - 1;
         c.stillLen = 33;
         c.stillAvg = 60;
       },
       features(100, 90, 'O'), 109, 2},
      {"no 109 when the raw run is not low enough",
       [](DetectorContext& c) {
         c.jumpEnd = kIndex - 1;
         c.lowRun = 1;
         c.stillLen = 33;
         c.stillAvg = 61;
       },
       features(100, 90, 'O'), 0, 1},
      {"nothing counts before jumpEnd",
       [](DetectorContext& c) {
         c.jumpEnd = kIndex + 1;
         c.lowRun = 40;
       },
       features(100, 90, 'O'), 0, 0},
      // Turn test.
      {"5", [](DetectorContext& c) { c.turnRun = 19; }, features(100, 90, 'O'), 5, 0},
      {"no 5 one sample short", [](DetectorContext& c) { c.turnRun = 18; }, features(100, 90, 'O'),
       0, 0},
      {"no 5 when the turn was spent upright",
       [](DetectorContext& c) {
         makeAllUpright(c);
         c.turnRun = 27;
       },
       features(100, 90, 'O'), 0, 0},
      {"5 once the turn outlasts its upright share",
       [](DetectorContext& c) {
         makeAllUpright(c);
         c.turnRun = 38;
       },
       features(100, 90, 'O'), 5, 0},
      // Burst tests.
      {"6",
       [](DetectorContext& c) {
         c.rawAccSum3 = 1600;
         c.lowRun = 3;
       },
       features(100, 90, 'O'), 6, 3},
      {"no 16 after a strong burst without a recent low run of its own",
       [](DetectorContext& c) {
         c.settings.burstHighMinLen = 8;  // the run below satisfies only burstLowMinLen
         c.rawAccSum3 = 1600;
         c.lowEvents[0] = EventEntry{kIndex - 2, 7};
         c.lowEventPos = 1;
       },
       features(100, 90, 'O'), 0, 0},
      {"16, reported with no fall length inside the jump window",
       [](DetectorContext& c) {
         c.rawAccSum3 = 1200;
         c.lowRun = 7;
         c.jumpEnd = kIndex + 5;
       },
       features(100, 90, 'O'), 16, 0},
      {"no 16 with two upright samples among the newest three",
       [](DetectorContext& c) {
         c.rawAccSum3 = 1200;
         c.lowRun = 7;
         c.jumpEnd = kIndex + 5;
         c.uprightRing[c.ringPos] = 2;
       },
       features(100, 90, 'O'), 0, 0},
  };
  for (const Case& c : cases) {
    Detector detector;
    DetectorContext& context = detector.context();
    placeAtIndex(context);
    c.state(context);
    const Classification outcome = classifySample(context, c.features);
    EXPECT_EQ(outcome.code, c.code) << c.name;
    EXPECT_EQ(outcome.fallLen, c.fallLen) << c.name;
  }
}

// Pattern tests run inside the event stage on a real sample: the detector
// stands still upright until kIndex, then one free-fall sample arrives with
// the smoothed filters emptied so that it reads 0 g at once.
class DetectorPattern : public ::testing::Test {
 protected:
  void SetUp() override {
    detector_.standUntil(kIndex);
    for (int axis = 0; axis < 3; ++axis) {
      context().smoothing[axis] = SmoothingFilter{0.0f, 0.0f, 0.0f};
    }
    context().postPeak = 400;
    context().postPeakIndex = 80;
  }
  DetectorContext& context() { return detector_.context(); }

  // A closed run of `length` ending at sample 76, before a gap of 5 samples
  // (holding the peak at 80) and a run in progress from sample 82 on.
  static void closedRun(EventEntry (&ring)[32], int32_t& pos, int32_t length) {
    ring[0] = EventEntry{76, length};
    pos = 1;
  }

  Detector detector_;
};

TEST_F(DetectorPattern, Code7EndsTheSampleBeforeTheRawRunUpdate) {
  // Upright history: uprightAdjust -10 asks for runs of 19 and 20.
  closedRun(context().lowEvents, context().lowEventPos, 20);
  context().lowRun = 18;
  context().stillRun = 7;
  context().stillLen = 3;
  context().stillAvg = 12;
  TraceCapture trace;
  EXPECT_EQ(detector_.process(kFreeFall), 7);
  EXPECT_EQ(context().lowRun, 19);
  EXPECT_EQ(context().stillRun, 7);  // not updated on this sample
  EXPECT_EQ(context().sampleIndex, kIndex + 1);
  const std::string line = trace.lines().back();
  EXPECT_NE(line.find(", FALL [19,  3:12,  0], TURN_FALL < 0> -> (7)\n"), std::string::npos)
      << line;
}

TEST_F(DetectorPattern, Code7NeedsTheClosedRunLongerWhenUpright) {
  closedRun(context().lowEvents, context().lowEventPos, 19);
  context().lowRun = 18;
  const int32_t code = detector_.process(kFreeFall);
  EXPECT_NE(code, 7);
  EXPECT_NE(code, 8);
}

TEST_F(DetectorPattern, Code8NeedsNoJumpAlignmentButAMostlyNonUprightRun) {
  closedRun(context().lowEvents, context().lowEventPos, 20);
  context().lowRun = 18;
  context().jumpEnd = 90;  // the closed run ended before the window: no 7
  makeNoneUpright(context());
  EXPECT_EQ(detector_.process(kFreeFall), 8);
}

TEST_F(DetectorPattern, Code107ReducesStillLenBeforeReporting) {
  closedRun(context().stillEvents, context().stillEventPos, 20);
  context().stillRun = 18;  // continues: quiet length 19
  TraceCapture trace;
  EXPECT_EQ(detector_.process(kFreeFall), 107);
  EXPECT_EQ(context().stillLenSaved, 19);
  EXPECT_EQ(context().stillLen, 13);
  const std::string line = trace.lines().back();
  EXPECT_NE(line.find(", FALL [ 1, 13: 0,  0], TURN_FALL < 0> -> (107)\n"), std::string::npos)
      << line;
}

TEST_F(DetectorPattern, Code108ReadsTheSmoothedRunLength) {
  closedRun(context().stillEvents, context().stillEventPos, 20);
  context().stillRun = 18;
  context().jumpEnd = 90;
  makeNoneUpright(context());
  context().lowRun = 7;  // 8 after this sample: one short of lowRunMin
  EXPECT_NE(detector_.process(kFreeFall), 108);
}

TEST_F(DetectorPattern, Code108FiresWithASmoothedRunOfLowRunMin) {
  closedRun(context().stillEvents, context().stillEventPos, 20);
  context().stillRun = 18;
  context().jumpEnd = 90;
  makeNoneUpright(context());
  context().lowRun = 8;
  EXPECT_EQ(detector_.process(kFreeFall), 108);
  EXPECT_EQ(context().stillLen, 13);
}

// Standing, then falling freely with nothing else: far from any jump
// window, the upright wearer needs avgWindow low samples.
TEST(DetectorFall, LongFreeFallAfterStandingGivesCode1) {
  Detector detector;
  detector.standUntil(60);
  int32_t code = 0;
  while (code == 0 && detector.context().sampleIndex < 100) {
    code = detector.process(kFreeFall);
  }
  EXPECT_EQ(code, 1);
  EXPECT_EQ(detector.context().lowRun, 15);
  EXPECT_EQ(detector.context().sampleIndex, 79);
}

// An upright impact opens a window 60..80; only low samples from jumpEnd on
// count, and they reach avgWindow 34 samples after the impact (near).
TEST(DetectorFall, FreeFallAfterAnImpactCountsFromTheWindowEnd) {
  Detector detector;
  detector.standUntil(60);
  detector.process(detectortest::uprightPeak(200));
  ASSERT_EQ(detector.context().jumpEnd, 80);
  int32_t code = 0;
  while (code == 0 && detector.context().sampleIndex < 120) {
    code = detector.process(kFreeFall);
  }
  EXPECT_EQ(code, 3);
  EXPECT_EQ(detector.context().sampleIndex - 1, 80 + 14);
}

// A detection resets nothing: the same fall keeps being reported.
TEST(DetectorFall, DetectionLeavesTheDetectorRunning) {
  Detector detector;
  detector.standUntil(60);
  detector.feed(kFreeFall, 19);
  ASSERT_EQ(detector.process(kFreeFall), 1);
  EXPECT_EQ(detector.process(kFreeFall), 1);
  EXPECT_EQ(detector.context().lowRun, 17);
}

}  // namespace
