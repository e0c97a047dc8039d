// The diagnostic trace line, and properties that must hold over any sample
// stream: tracing changes nothing, contexts are independent, every sample
// advances the ring once and only the 21 result codes ever appear.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "DetectorTestSupport.h"

namespace {

using detectortest::Detector;
using detectortest::kFreeFall;
using detectortest::kUpright;
using detectortest::randomStream;
using detectortest::sameState;
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

// Runs `stream` through a fresh detector and returns every result.
std::vector<int32_t> runAlone(const std::vector<SampleRecord>& stream, DetectorContext* finalState,
                              Detector& detector) {
  std::vector<int32_t> codes;
  codes.reserve(stream.size());
  for (const SampleRecord& sample : stream) {
    codes.push_back(detector.process(sample));
  }
  if (finalState != nullptr) {
    *finalState = detector.context();
  }
  return codes;
}

struct StreamCase {
  uint32_t seed;
  bool wild;
};
constexpr StreamCase kStreams[] = {{1, false}, {2, false}, {3, false}, {4, true}, {5, true}};
constexpr int kStreamLength = 4000;

TEST(DetectorProperties, TracingChangesNoResultAndNoState) {
  for (const StreamCase& s : kStreams) {
    const std::vector<SampleRecord> stream = randomStream(s.seed, kStreamLength, s.wild);
    Detector quiet;
    const std::vector<int32_t> expected = runAlone(stream, nullptr, quiet);
    Detector traced;
    std::vector<int32_t> codes;
    std::string text;
    {
      TraceCapture trace;
      codes = runAlone(stream, nullptr, traced);
      text = trace.text();
    }
    EXPECT_EQ(codes, expected) << "seed " << s.seed;
    EXPECT_TRUE(sameState(quiet.context(), traced.context())) << "seed " << s.seed;
    // One line per sample; a reported code closes its own line.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kStreamLength) << "seed " << s.seed;
    const auto reported = static_cast<std::size_t>(
        std::count_if(codes.begin(), codes.end(), [](int32_t code) { return code != 0; }));
    std::size_t arrows = 0;
    for (std::size_t at = text.find(" -> ("); at != std::string::npos;
         at = text.find(" -> (", at + 1)) {
      ++arrows;
    }
    EXPECT_EQ(arrows, reported) << "seed " << s.seed;
  }
}

TEST(DetectorProperties, InterleavedContextsMatchSeparateRuns) {
  const std::vector<SampleRecord> first = randomStream(11, kStreamLength, false);
  const std::vector<SampleRecord> second = randomStream(12, kStreamLength, true);
  Detector aloneFirst;
  Detector aloneSecond;
  const std::vector<int32_t> expectedFirst = runAlone(first, nullptr, aloneFirst);
  const std::vector<int32_t> expectedSecond = runAlone(second, nullptr, aloneSecond);

  Detector a;
  Detector b;
  std::vector<int32_t> codesFirst;
  std::vector<int32_t> codesSecond;
  for (int i = 0; i < kStreamLength; ++i) {
    codesFirst.push_back(a.process(first[static_cast<std::size_t>(i)]));
    codesSecond.push_back(b.process(second[static_cast<std::size_t>(i)]));
  }
  EXPECT_EQ(codesFirst, expectedFirst);
  EXPECT_EQ(codesSecond, expectedSecond);
  EXPECT_TRUE(sameState(a.context(), aloneFirst.context()));
  EXPECT_TRUE(sameState(b.context(), aloneSecond.context()));
}

TEST(DetectorProperties, EverySampleAdvancesOnceAndReturnsAKnownCode) {
  const std::set<int32_t> known(std::begin(kFallCodes), std::end(kFallCodes));
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
