// Event stage on hand-made streams: the jump window and its span table, the
// impact burst that may lengthen it, and the smoothed low-acceleration run
// with its ring of closed runs.
#include <gtest/gtest.h>

#include <string>

#include "DetectorTestSupport.h"

namespace {

using detectortest::Detector;
using detectortest::kFreeFall;
using detectortest::kUpright;
using detectortest::TraceCapture;
using detectortest::uprightPeak;

// A peak on the x axis: it feeds the impact accumulator but can never open
// a jump window (the y count is outside the upright band).
SampleRecord sidePeak(int32_t hundredthsG) {
  return SampleRecord{static_cast<int16_t>((hundredthsG * 8192 + 4096) / 100), 0, 0, 0, 0, 0};
}

// jumpEnd - jumpStart for a window opened by an upright peak of magnitude S.
TEST(DetectorJumpWindow, SpanFollowsThePiecewiseTableAndCap) {
  struct Case {
    int32_t peak;
    SampleRecord sample;
    int32_t span;
  };
  const Case cases[] = {
      {174, uprightPeak(174), 9},   // (S - 100) * 13 / 100
      {175, uprightPeak(175), 9},   // middle segment starts with factor 13
      {199, uprightPeak(199), 18},  // factor 19
      {200, uprightPeak(200), 20},  // (S - 100) * 20 / 100
      {250, uprightPeak(250), 30},
      {390, SampleRecord{27428, -16384, 0, 0, 0, 0}, 37},  // 58 capped at maxJumpSpan
  };
  for (const Case& c : cases) {
    Detector detector;
    detector.standUntil(60);
    const VelmoraObservation features = detector.inspect(c.sample);
    ASSERT_EQ(features.rawAccMag, c.peak);
    EXPECT_EQ(detector.context().jumpStart, 60) << "S = " << c.peak;
    EXPECT_EQ(detector.context().jumpPeak, c.peak) << "S = " << c.peak;
    EXPECT_EQ(detector.context().jumpEnd - 60, c.span) << "S = " << c.peak;
  }
}

// The window closes on the sample whose index equals jumpEnd: jumpPeak goes
// back to 0, so that a weaker peak may open the next window.
TEST(DetectorJumpWindow, PeakIsForgottenWhenTheWindowEnds) {
  Detector detector;
  detector.standUntil(60);
  detector.process(uprightPeak(200));  // window 60..80
  detector.standUntil(80);
  detector.process(uprightPeak(150));  // weaker, inside the window: ignored
  EXPECT_EQ(detector.context().jumpStart, 60);
  EXPECT_EQ(detector.context().jumpPeak, 0);  // sample 80 closed the window
  detector.process(uprightPeak(150));
  EXPECT_EQ(detector.context().jumpStart, 81);
  EXPECT_EQ(detector.context().jumpEnd, 81 + 6);
}

// A peak equal to the one that opened the window opens it again; a weaker
// one does not.
TEST(DetectorJumpWindow, EqualPeakReopensTheWindow) {
  for (const int32_t second : {199, 200}) {
    Detector detector;
    detector.standUntil(60);
    detector.process(uprightPeak(200));  // window 60..80
    detector.standUntil(65);
    detector.process(uprightPeak(second));
    const bool reopened = second == 200;
    EXPECT_EQ(detector.context().jumpStart, reopened ? 65 : 60) << "second peak " << second;
    EXPECT_EQ(detector.context().jumpEnd, reopened ? 85 : 80) << "second peak " << second;
  }
}

// recentLowEvent(5, 5) blocks a window while a low run of 5 is in progress;
// the run is counted before the current sample joins it.
TEST(DetectorJumpWindow, LowRunOfFiveInProgressBlocksANewWindow) {
  for (const int zeros : {8, 9}) {
    Detector detector;
    detector.standUntil(60);
    detector.feed(kFreeFall, zeros);
    const int32_t runBefore = detector.context().lowRun;
    ASSERT_EQ(runBefore, zeros - 4);
    detector.process(uprightPeak(200));
    if (runBefore >= 5) {
      EXPECT_EQ(detector.context().jumpStart, -1) << "low run " << runBefore;
    } else {
      EXPECT_EQ(detector.context().jumpStart, 60 + zeros) << "low run " << runBefore;
    }
  }
}

// A burst above 1.3 g lengthens the jump window only when it lasted at
// least three samples and accumulated more than 95; otherwise it leaves no
// trace piece and no jumpEnd change.
TEST(DetectorImpactBurst, ShortOrWeakBurstsAreDropped) {
  struct Case {
    const char* name;
    std::vector<int32_t> burst;
  };
  const Case cases[] = {
      {"one sample", {300}},
      {"two samples", {200, 200}},
      {"accumulating exactly 95", {131, 132, 132}},
  };
  for (const Case& c : cases) {
    Detector detector;
    detector.standUntil(60);
    TraceCapture trace;
    for (const int32_t peak : c.burst) {
      detector.process(sidePeak(peak));
    }
    EXPECT_GT(detector.context().impactAccum, 0) << c.name;
    detector.process(kUpright);
    EXPECT_EQ(detector.context().impactAccum, 0) << c.name;
    EXPECT_EQ(detector.context().jumpEnd, 0) << c.name;
    EXPECT_EQ(trace.text().find("JX"), std::string::npos) << c.name;
  }
}

TEST(DetectorImpactBurst, QualifyingBurstLengthensTheWindowWhenItEndsLater) {
  Detector detector;
  detector.standUntil(60);
  TraceCapture trace;
  for (const int32_t peak : {131, 132, 133}) {  // accumulates 96
    detector.process(sidePeak(peak));
  }
  detector.process(kUpright);  // sample 63 ends the burst: span 96 / 100 + 8
  EXPECT_EQ(detector.context().jumpEnd, 71);
  EXPECT_EQ(detector.context().jumpStart, -1);
  const std::string last = trace.lines().back();
  EXPECT_NE(last.find(", 3S <"), std::string::npos);
  EXPECT_NE(last.find(">, JX <96, 3, 71>, FALL ["), std::string::npos) << last;
}

TEST(DetectorImpactBurst, BurstInsideALongerWindowIsTracedButChangesNothing) {
  Detector detector;
  detector.standUntil(60);
  TraceCapture trace;
  detector.process(uprightPeak(250));  // opens 60..90 and starts the burst
  detector.process(sidePeak(131));
  detector.process(sidePeak(131));
  detector.process(kUpright);  // 150 + 31 + 31 = 212: newEnd 63 + 10 < 90
  EXPECT_EQ(detector.context().jumpEnd, 90);
  EXPECT_NE(trace.lines().back().find(", JX <212, 3>, FALL ["), std::string::npos)
      << trace.lines().back();
}

TEST(DetectorImpactBurst, SpanIsCappedAtMaxJumpSpan) {
  DetectorSettings settings = detectortest::defaultSettings();
  settings.maxJumpSpan = 10;
  Detector detector(settings);
  detector.standUntil(60);
  detector.feed(sidePeak(390), 3);  // accumulates 870: span 16 before the cap
  detector.process(kUpright);
  EXPECT_EQ(detector.context().jumpEnd, 63 + 10);
}

// Runs shorter than minEventRun leave no ring entry and open no peak window.
// The raw run is kept from starting so that only the smoothed run can write.
TEST(DetectorLowRun, RunOneShortOfMinEventRunIsDiscarded) {
  DetectorSettings settings = detectortest::defaultSettings();
  settings.stillEnterLevel = -1;
  struct Case {
    int16_t recoveryCount;  // y count of the sample after five free-fall samples
    int32_t runLength;
  };
  for (const Case c : {Case{-6144, 3}, Case{-4096, 4}}) {
    Detector detector(settings);
    detector.standUntil(60);
    detector.feed(kFreeFall, 5);
    detector.process(SampleRecord{0, c.recoveryCount, 0, 0, 0, 0});
    int32_t longest = detector.context().lowRun;
    for (int i = 0; i < 10; ++i) {
      detector.process(kUpright);
      longest = std::max(longest, detector.context().lowRun);
    }
    longest = std::max(longest, detector.context().lowEvents[0].length);
    ASSERT_EQ(longest, c.runLength);
    const DetectorContext& context = detector.context();
    if (c.runLength < settings.minEventRun) {
      EXPECT_EQ(context.lowEventPos, 0);
      EXPECT_EQ(context.lowEvents[0].length, 0);
      EXPECT_EQ(context.peakWindowEnd, 0);
    } else {
      // Low on samples 64..67, closed by sample 68.
      EXPECT_EQ(context.lowEventPos, 1);
      EXPECT_EQ(context.lowEvents[0].end, 67);
      EXPECT_EQ(context.lowEvents[0].length, 4);
      EXPECT_EQ(context.peakWindowEnd, 68 + 20);
    }
  }
}

// A smoothed run of 13 or more is closed, still low, by a raw peak above
// 1.5 g; the closing sample counts in its length, the next starts anew.
TEST(DetectorLowRun, LongRunIsClosedEarlyByARawPeakAboveOneAndAHalfG) {
  struct Case {
    int freeFallSamples;
    int32_t peak;
    bool closes;
  };
  const Case cases[] = {
      {16, 151, true},   // run reaches 13 on the peak sample
      {15, 151, false},  // run reaches only 12
      {16, 150, false},  // peak not above 150
  };
  for (const Case& c : cases) {
    Detector detector;
    detector.standUntil(60);
    detector.feed(kFreeFall, c.freeFallSamples);
    const int32_t runBefore = detector.context().lowRun;
    ASSERT_EQ(runBefore, c.freeFallSamples - 4);
    const int32_t peakIndex = detector.context().sampleIndex;
    const VelmoraObservation features = detector.inspect(sidePeak(c.peak));
    ASSERT_LE(features.accMag, 60);
    ASSERT_EQ(features.rawAccMag, c.peak);
    const DetectorContext& context = detector.context();
    const EventEntry& newest = context.lowEvents[(context.lowEventPos - 1) & 31];
    if (c.closes) {
      EXPECT_EQ(context.lowRun, 0);
      EXPECT_EQ(context.lowEventPos, 1);
      EXPECT_EQ(newest.end, peakIndex - 1);
      EXPECT_EQ(newest.length, runBefore + 1);
      // The peak window opens with the closing sample, which is its peak.
      EXPECT_EQ(context.peakWindowEnd, peakIndex + 20);
      EXPECT_EQ(context.postPeak, c.peak);
      EXPECT_EQ(context.postPeakIndex, peakIndex);
      detector.process(kFreeFall);
      EXPECT_EQ(detector.context().lowRun, 1);
    } else {
      EXPECT_EQ(context.lowRun, runBefore + 1) << c.freeFallSamples << " / " << c.peak;
      EXPECT_EQ(context.lowEventPos, 0);
    }
  }
}

// Closing a run while the peak window is still open (its end not before
// the current sample) extends the window and keeps the peak seen so far.
TEST(DetectorLowRun, PeakWindowStillOpenIsExtendedAndKeepsItsPeak) {
  for (const int32_t windowEnd : {99, 100}) {
    Detector detector;
    detector.standUntil(100);
    DetectorContext& context = detector.context();
    context.lowRun = 5;  // closed by the next (1 g) sample
    context.peakWindowEnd = windowEnd;
    context.postPeak = 500;
    context.postPeakIndex = 90;
    detector.process(kUpright);
    ASSERT_EQ(context.lowEventPos, 1);
    EXPECT_EQ(context.peakWindowEnd, 120);
    if (windowEnd == 100) {
      EXPECT_EQ(context.postPeak, 500);
      EXPECT_EQ(context.postPeakIndex, 90);
    } else {
      // A fresh window: the closing sample is its first peak.
      EXPECT_EQ(context.postPeak, 100);
      EXPECT_EQ(context.postPeakIndex, 100);
    }
  }
}

// recentLowEvent answers from the run in progress or the newest ring entry.
TEST(DetectorLowRun, RecentLowEventLooksAtTheRunInProgressAndTheNewestEntryOnly) {
  Detector detector;
  DetectorContext& context = detector.context();
  // Fresh context: the newest slot reads {0, 0}.
  EXPECT_FALSE(velmora::recentLowEvent(context, 5, 5));

  context.lowRun = 4;
  EXPECT_FALSE(velmora::recentLowEvent(context, 5, 5));
  context.lowRun = 5;
  EXPECT_TRUE(velmora::recentLowEvent(context, 5, 5));
  context.lowRun = 0;

  context.lowEvents[0] = EventEntry{100, 5};
  context.lowEventPos = 1;
  context.sampleIndex = 105;
  EXPECT_TRUE(velmora::recentLowEvent(context, 5, 5));
  context.sampleIndex = 106;
  EXPECT_FALSE(velmora::recentLowEvent(context, 5, 5));
  context.sampleIndex = 101;
  EXPECT_FALSE(velmora::recentLowEvent(context, 5, 6));

  // A short newer run hides a long older one; the ring wraps at 32.
  context.lowEvents[31] = EventEntry{100, 20};
  context.lowEvents[0] = EventEntry{100, 2};
  EXPECT_FALSE(velmora::recentLowEvent(context, 5, 5));
  context.lowEventPos = 0;
  EXPECT_TRUE(velmora::recentLowEvent(context, 5, 5));
}

}  // namespace

// The raw low-acceleration run, sample by sample: it starts at
// stillEnterLevel, ends only above stillExitLevel, averages its quiet samples
// from minEventRun on, steps stillLen down by 6, and records the saved length
// when it ends even though a high sample has zeroed stillLen.
TEST(DetectorStillRun, EntryExitAverageAndTheSavedLength) {
  struct Step {
    int32_t rawAccMag;
    int32_t stillRun;
    int32_t stillLen;
    int32_t stillAvg;
    int32_t stillLenSaved;
  };
  constexpr Step kSteps[] = {
      {61, 0, 0, 0, 0},   // above stillEnterLevel: no run
      {60, 1, 1, 0, 0},   // at stillEnterLevel: the run starts
      {50, 2, 2, 0, 2},   // no mean before minEventRun (4) samples
      {50, 3, 3, 0, 3},   //
      {50, 4, 4, 52, 4},  // (60 + 3 x 50) / 4
      {50, 5, 5, 52, 5},  //
      {50, 6, 0, 51, 6},  // 6 - 6
      {50, 7, 1, 51, 7},  // 7 - 6
      {80, 8, 0, 51, 7},  // above lowLevel: a high sample, left out of the mean
      {90, 9, 0, 51, 7},  // at stillExitLevel the run goes on
      {91, 0, 0, 0, 7},   // above it the run ends; the saved length stays
  };
  Detector detector;
  detector.standUntil(100);
  DetectorContext& context = detector.context();
  int32_t entryIndex = -1;
  const int32_t eventPos = context.stillEventPos;
  for (const Step& step : kSteps) {
    if (step.rawAccMag == 60) {
      entryIndex = context.sampleIndex;
    }
    detector.process(uprightPeak(step.rawAccMag));
    SCOPED_TRACE("rawAccMag " + std::to_string(step.rawAccMag));
    EXPECT_EQ(context.stillRun, step.stillRun);
    EXPECT_EQ(context.stillLen, step.stillLen);
    EXPECT_EQ(context.stillAvg, step.stillAvg);
    EXPECT_EQ(context.stillLenSaved, step.stillLenSaved);
  }
  EXPECT_EQ(context.stillStart, entryIndex);
  ASSERT_EQ(context.stillEventPos, (eventPos + 1) & 31);
  EXPECT_EQ(context.stillEvents[eventPos].end, entryIndex + 7 - 1);
  EXPECT_EQ(context.stillEvents[eventPos].length, 7);
}
