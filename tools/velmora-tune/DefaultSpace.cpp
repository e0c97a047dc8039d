#include "DefaultSpace.h"

namespace tune {

namespace {

struct Range {
  const char* name;
  int32_t low;
  int32_t high;
  int32_t step;
};

// A sensible range for each setting the detector reads, around its default.
constexpr Range kRanges[] = {
    {"avgWindow", 5, 40, 1},
    {"lowLevel", 40, 100, 1},
    {"impactMin", 110, 200, 5},
    {"impactMax", 250, 600, 10},
    {"gyroAvgLow", 80, 300, 10},
    {"gyroAvgHigh", 200, 600, 10},
    {"accAvgLimit", 20, 80, 1},
    {"rollLimit", 20, 60, 1},
    {"pitchUprightMin", -90, -40, 1},
    {"pitchImpactMin", -120, -60, 2},
    {"pitchMax", 15, 60, 1},
    {"minEventRun", 2, 10, 1},
    {"maxJumpSpan", 10, 60, 1},
    {"stillEnterLevel", 40, 90, 1},
    {"stillExitLevel", 60, 130, 2},
    {"stillAvgMax", 30, 90, 1},
    {"burstHigh", 800, 2400, 50},
    {"burstHighWindow", 3, 10, 1},
    {"burstHighMinLen", 1, 6, 1},
    {"burstLow", 600, 2000, 50},
    {"burstLowWindow", 3, 10, 1},
    {"burstLowMinLen", 3, 12, 1},
    {"uprightLag", -10, -1, 1},
    {"uprightDeltaMax", 0, 5, 1},
    {"turnAccLevel", 100, 250, 5},
    {"turnGyroLevel", 80, 250, 5},
    {"turnRunMin", 5, 40, 1},
    {"lowEventMinLen", 4, 20, 1},
    {"lowRunMin", 3, 20, 1},
    {"lowTotalMin", 10, 50, 1},
    {"gapMin", 1, 15, 1},
    {"gapMax", 10, 40, 1},
    {"postPeakMin", 200, 800, 20},
};

}  // namespace

std::vector<Dimension> defaultSpace() {
  std::vector<Dimension> space;
  for (const Range& range : kRanges) {
    space.push_back(Dimension{findSetting(range.name), range.low, range.high, range.step});
  }
  return space;
}

}  // namespace tune
