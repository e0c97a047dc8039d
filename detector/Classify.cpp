// Main decision tree: fall length, the near and far branches, the long-run
// codes, then the turn and burst tests.
#include <algorithm>

#include "DetectorInternal.h"

namespace velmora {
namespace {

constexpr int32_t kNearJumpSamples = 40;  // samples since jumpStart for the near branch
constexpr int32_t kMinStillFallLen = 5;
constexpr int32_t kLongRunExtra = 18;  // avgWindow + this makes a long run

// Running mean of the smoothed magnitude, reduced by 0.1 % per deg/s of
// gyroAvg above gyroAvgLow; single precision.
int32_t adjustedAccAvg(const SampleFeatures& features, const DetectorSettings& s) {
  const float excess = static_cast<float>(int64_t{features.gyroAvg} - s.gyroAvgLow);
  const float r = excess * 0.2f / 200.0f;
  const float accAvg = static_cast<float>(features.accAvg);
  return truncateToInt32(accAvg - accAvg * r);
}

int32_t fallCode(const DetectorContext& context, const SampleFeatures& features, int32_t fallLen,
                 int32_t codeBase) {
  const DetectorSettings& s = context.settings;
  const bool lowRate = features.gyroAvg < s.gyroAvgLow;
  const auto moderateMotion = [&]() {
    return features.gyroAvg < s.gyroAvgHigh && adjustedAccAvg(features, s) < s.accAvgLimit;
  };
  if (int64_t{context.sampleIndex} - context.jumpStart <= kNearJumpSamples) {
    if (lowRate) {
      return fallLen >= s.avgWindow ? codeBase + 3 : 0;
    }
    if (fallLen >= s.avgWindow) {
      return codeBase + 14;
    }
    if (moderateMotion() && fallLen >= s.avgWindow / 4) {
      return codeBase + 4;
    }
    return 0;
  }
  // Far from any impact: one sample of slack when not upright.
  const int32_t needed = s.avgWindow - (features.postureFlag == 'O' ? 0 : 1);
  if (lowRate) {
    return fallLen >= needed ? codeBase + 1 : 0;
  }
  if (fallLen >= needed) {
    return codeBase + 12;
  }
  if (moderateMotion() && fallLen >= needed / 4) {
    return codeBase + 2;
  }
  return 0;
}

}  // namespace

Classification classifySample(const DetectorContext& context, const SampleFeatures& features) {
  const DetectorSettings& s = context.settings;
  int32_t fallLen = 0;
  int32_t codeBase = 0;
  // Only samples from the end of the jump window on count toward a fall.
  if (context.sampleIndex >= context.jumpEnd) {
    if (context.stillLen >= kMinStillFallLen && context.stillAvg <= s.lowLevel) {
      fallLen = context.stillLen;
      codeBase = 100;
      if (context.stillLen < context.lowRun) {
        fallLen = context.lowRun;
        codeBase = 0;
      }
    } else {
      fallLen = context.lowRun;
    }
    fallLen = static_cast<int32_t>(
        std::min<int64_t>(fallLen, int64_t{context.sampleIndex} - context.jumpEnd + 1));
  }

  int32_t code = 0;
  if (fallLen > 0) {
    code = fallCode(context, features, fallLen, codeBase);
    if (code == 0) {
      if (context.lowRun >= s.avgWindow + kLongRunExtra) {
        code = 9;
      } else if (context.stillLen >= s.avgWindow + kLongRunExtra &&
                 context.stillAvg <= s.lowLevel) {
        code = 109;
      }
    }
  }
  if (code == 0 && context.turnRun >= s.turnRunMin && context.turnRun >= turnThreshold(context)) {
    code = 5;
  }
  if (code == 0) {
    if (context.rawAccSum3 >= s.burstHigh) {
      // A strong burst without a recent low run is not tried at the lower level.
      if (recentLowEvent(context, s.burstHighWindow, s.burstHighMinLen)) {
        code = 6;
      }
    } else if (context.rawAccSum3 >= s.burstLow &&
               uprightSpan(context, -int64_t{s.uprightLag}) <= s.uprightDeltaMax &&
               recentLowEvent(context, s.burstLowWindow, s.burstLowMinLen)) {
      code = 16;
    }
  }
  return Classification{code, fallLen};
}

}  // namespace velmora
