// The table of result codes.
#include <algorithm>
#include <iterator>

#include "Velmora.h"
#include "VelmoraCodes.h"

namespace {

// Codes below 100 found the fall on the smoothed low run, codes above 100 the
// same pattern on the raw run. "Near" a jump window means it opened within
// the last 40 samples.
// clang-format off
constexpr VelmoraCodeInfo kCodes[] = {
  {1, "quiet fall: a long low phase without much turning",
   "smoothed low run of avgWindow samples (one fewer when not upright), gyroAvg below gyroAvgLow, no jump window near"},
  {2, "turning fall: a short low phase while turning",
   "smoothed low run of a quarter of the length code 1 needs, gyroAvg between gyroAvgLow and gyroAvgHigh, low mean acceleration (accAvgLimit), no jump window near"},
  {3, "quiet fall after a strong peak: a stumble or push, then a long low phase",
   "smoothed low run of avgWindow samples, gyroAvg below gyroAvgLow, a jump window near"},
  {4, "turning fall after a strong peak: a short low phase while turning",
   "smoothed low run of a quarter of avgWindow, gyroAvg between gyroAvgLow and gyroAvgHigh, low mean acceleration (accAvgLimit), a jump window near"},
  {5, "tumbling: strong acceleration and rotation together",
   "raw acceleration above turnAccLevel and raw angular rate above turnGyroLevel for turnRunMin samples plus half the upright ones"},
  {6, "violent impact during or right after a low phase",
   "sum of the last three raw magnitudes at least burstHigh, a smoothed low run of burstHighMinLen samples within burstHighWindow samples"},
  {7, "drop, hit, drop: two low phases with a hard peak between",
   "closed smoothed low phase of lowEventMinLen, gap of gapMin to gapMax samples with a peak of postPeakMin, second phase of lowRunMin, lengths adjusted by posture, after the last jump window"},
  {8, "drop, hit, drop: two long low phases, mostly not upright",
   "closed smoothed low phase, gap of gapMin to gapMax samples with a peak of postPeakMin, both phases lowTotalMin samples in all, under half of the second upright"},
  {9, "very long low phase",
   "smoothed low run of avgWindow + 18 samples when the main test gave no code"},
  {12, "turning fall: a long low phase with strong turning",
   "smoothed low run of avgWindow samples (one fewer when not upright), gyroAvg at or above gyroAvgLow, no jump window near"},
  {14, "turning fall after a strong peak: a long low phase with strong turning",
   "smoothed low run of avgWindow samples, gyroAvg at or above gyroAvgLow, a jump window near"},
  {16, "fall after a low phase and a hard impact, not upright",
   "sum of the last three raw magnitudes at least burstLow, at most uprightDeltaMax of the last -uprightLag samples upright, a smoothed low run of burstLowMinLen within burstLowWindow samples"},
  {101, "quiet fall: a long low phase without much turning (raw run)",
   "as 1, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
  {102, "turning fall: a short low phase while turning (raw run)",
   "as 2, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
  {103, "quiet fall after a strong peak (raw run)",
   "as 3, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
  {104, "turning fall after a strong peak: a short low phase while turning (raw run)",
   "as 4, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
  {107, "drop, hit, drop: two low phases with a hard peak between (raw run)",
   "as 7, measured on the raw low runs"},
  {108, "drop, hit, drop: two long low phases, mostly not upright (raw run)",
   "as 8, measured on the raw low runs"},
  {109, "very long low phase (raw run)",
   "raw low run of avgWindow + 18 samples, mean at or below lowLevel, when the main test gave no code"},
  {112, "turning fall: a long low phase with strong turning (raw run)",
   "as 12, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
  {114, "turning fall after a strong peak: a long low phase with strong turning (raw run)",
   "as 14, on the raw low run (at least 5 samples, mean at or below lowLevel, as long as the smoothed run)"},
};
// clang-format on

constexpr bool sameCodesAsTheDetector() {
  if (std::size(kCodes) != std::size(kVelmoraFallCodes)) {
    return false;
  }
  for (std::size_t i = 0; i < std::size(kCodes); ++i) {
    if (kCodes[i].code != kVelmoraFallCodes[i]) {
      return false;
    }
  }
  return true;
}
static_assert(sameCodesAsTheDetector(), "the code table lists exactly kVelmoraFallCodes, in order");

}  // namespace

std::span<const VelmoraCodeInfo> VelmoraCodeTable() { return kCodes; }

const VelmoraCodeInfo* VelmoraDescribeCode(int32_t code) {
  const auto* found = std::lower_bound(
      std::begin(kCodes), std::end(kCodes), code,
      [](const VelmoraCodeInfo& entry, int32_t wanted) { return entry.code < wanted; });
  return found != std::end(kCodes) && found->code == code ? found : nullptr;
}
