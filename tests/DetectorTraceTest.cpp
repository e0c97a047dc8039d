// The diagnostic trace line and the observation record it is printed from;
// every sample advances the ring once and only the 21 result codes appear.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "DetectorTestSupport.h"

namespace {

using detectortest::Detector;
using detectortest::kFreeFall;
using detectortest::kUpright;
using detectortest::randomStream;
using detectortest::TraceCapture;

TEST(DetectorTrace, FirstSampleOfAFreshContextHasTheExactHead) {
  Detector detector;
  TraceCapture trace;
  detector.process(kFreeFall);
  EXPECT_EQ(trace.text(),
            "0000: AG <     0,      0,      0><     0,      0,      0>"
            ", RMS <  0,   0,   0,   0>, JUMP (  0,  -1,   0)"
            ", AVG < 93,   0>, PX <  0, -90, X>, 3S < 200,   0>\n");
}

TEST(DetectorTrace, RawCountsAreSignedAndWidthsAreMinimums) {
  Detector detector;
  TraceCapture trace;
  detector.process(SampleRecord{-32768, 32767, -1, 1, -12345, 0});
  EXPECT_EQ(trace.text().substr(0, 57),
            "0000: AG <-32768,  32767,     -1><     1, -12345,      0>");
  detector.context().sampleIndex = 12345;
  detector.context().ringPos = 12345 & 63;
  detector.process(kUpright);
  EXPECT_EQ(trace.lines().back().substr(0, 10), "12345: AG ");
}

// Lines of the warm-up end after the head; from sample 40 on the outcome
// pieces follow.
TEST(DetectorTrace, OutcomePiecesStartAtSampleForty) {
  Detector detector;
  TraceCapture trace;
  detector.feed(kUpright, 41);
  const std::vector<std::string> lines = trace.lines();
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[39].substr(0, 6), "0039: ");
  EXPECT_EQ(lines[39].find("FALL"), std::string::npos);
  EXPECT_TRUE(lines[39].ends_with(", 3S < 300,   0>\n")) << lines[39];
  EXPECT_EQ(lines[40].substr(0, 6), "0040: ");
  EXPECT_NE(lines[40].find(", 3S < 300,   0>, FALL [ 0,  0: 0,  0], TURN_FALL < 0>\n"),
            std::string::npos)
      << lines[40];
}

// From turnRunMin on, TURN_FALL shows the threshold turnRunMin + U(turnRun)
// / 2; after standing upright, U(63) is 63 and U(64) wraps to 0.
TEST(DetectorTrace, TurnThresholdUsesTheMaskedUprightLookBack) {
  const SampleRecord turning{0, -16384, 0, 20000, 0, 0};
  struct Case {
    int32_t turnRunBefore;
    const char* piece;
  };
  for (const Case c : {Case{62, ", TURN_FALL <63, 50> -> (5)\n"},
                       Case{63, ", TURN_FALL <64, 19> -> (5)\n"}, Case{10, ", TURN_FALL <11>\n"}}) {
    Detector detector;
    detector.standUntil(200);
    detector.context().turnRun = c.turnRunBefore;
    TraceCapture trace;
    detector.process(turning);
    const std::string line = trace.text();
    EXPECT_NE(line.find(c.piece), std::string::npos) << line;
  }
}

struct StreamCase {
  uint32_t seed;
  bool wild;
};
constexpr StreamCase kStreams[] = {{1, false}, {2, false}, {3, false}, {4, true}, {5, true}};
constexpr int kStreamLength = 4000;

// Reads the numbers of a trace line in order: every run of digits with its
// sign, and the posture character as its code.
std::vector<int64_t> traceNumbers(const std::string& line) {
  std::vector<int64_t> numbers;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (ch == 'O' || ch == 'X') {
      if (i > 0 && line[i - 1] == ' ' && i + 1 < line.size() && line[i + 1] == '>') {
        numbers.push_back(ch);  // the posture flag, "..., O>"
      }
    } else if (std::isdigit(static_cast<unsigned char>(ch)) != 0 ||
               (ch == '-' && i + 1 < line.size() &&
                std::isdigit(static_cast<unsigned char>(line[i + 1])) != 0 && line[i + 1] != '>')) {
      std::size_t end = i + 1;
      while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])) != 0) {
        ++end;
      }
      numbers.push_back(std::stoll(line.substr(i, end - i)));
      i = end - 1;
    }
  }
  return numbers;
}

// The observation holds what the trace line shows, taken at the same moment
// (the jump window before the event stage, the turn threshold only where the
// line shows it, stillAvg only from stillRun 5 on).
TEST(DetectorTrace, ObservationHoldsWhatTheLineShows) {
  const int32_t turnRunMin = detectortest::defaultSettings().turnRunMin;
  std::size_t bursts = 0;
  for (const StreamCase& s : kStreams) {
    Detector detector;
    TraceCapture trace;
    std::size_t lineCount = 0;
    for (const SampleRecord& sample : randomStream(s.seed, kStreamLength, s.wild)) {
      int32_t code = 0;
      const VelmoraObservation o = detector.inspect(sample, &code);
      const std::vector<std::string> lines = trace.lines();
      ASSERT_EQ(lines.size(), lineCount + 1);
      const std::string& line = lines[lineCount++];
      std::vector<int64_t> expected = {
          o.sampleIndex, o.ax,         o.ay,      o.az,        o.gx,         o.gy,
          o.gz,          o.accMag,     o.gyroMag, o.rawAccMag, o.rawGyroMag, o.jumpPeak,
          o.jumpStart,   o.jumpEnd,    o.accAvg,  o.gyroAvg,   o.roll,       o.pitch,
          o.postureFlag, o.rawAccSum3, o.gyroSum3};
      // "3S" of the head carries a digit of its own.
      expected.insert(expected.begin() + 19, 3);
      if (!o.warmUp) {
        if (o.burstEnded) {
          expected.insert(expected.end(), {o.impactAccum, o.burstLength});
          if (o.jumpEndRaised) {
            expected.push_back(o.newJumpEnd);
          }
        }
        expected.insert(expected.end(), {o.lowRun, o.stillLen, o.stillRun >= 5 ? o.stillAvg : 0,
                                         o.fallLen, o.turnRun});
        if (o.turnRun >= turnRunMin) {
          expected.push_back(o.turnThreshold);
        }
        if (o.code != 0) {
          expected.push_back(o.code);
        }
      }
      ASSERT_EQ(traceNumbers(line), expected) << line;
      ASSERT_EQ(o.code, code);
      bursts += o.burstEnded ? 1 : 0;
    }
  }
  EXPECT_GT(bursts, 0u) << "the streams must end impact bursts for the check to mean much";
}

TEST(DetectorProperties, EverySampleAdvancesOnceAndReturnsAKnownCode) {
  const std::set<int32_t> known(std::begin(kVelmoraFallCodes), std::end(kVelmoraFallCodes));
  ASSERT_EQ(known.size(), 21u);
  std::set<int32_t> seen;
  for (const StreamCase& s : kStreams) {
    Detector detector;
    int32_t index = 0;
    for (const SampleRecord& sample : randomStream(s.seed, kStreamLength, s.wild)) {
      const int32_t code = detector.process(sample);
      ++index;
      ASSERT_TRUE(code == 0 || known.count(code) == 1) << "code " << code << " at " << index;
      if (index <= 40) {
        ASSERT_EQ(code, 0);
      }
      ASSERT_EQ(detector.context().sampleIndex, index);
      ASSERT_EQ(detector.context().ringPos, index & 63);
      seen.insert(code);
    }
  }
  // The streams must reach the classification for the check to mean much.
  EXPECT_GE(seen.size(), 6u) << ::testing::PrintToString(seen);
}

}  // namespace
