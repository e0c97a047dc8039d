// Event stage: impact bursts and the jump window, the turn counter, the
// smoothed and raw low-acceleration runs with their event rings, and the
// peak window after a run closes. Runs for samples from the warm-up on.
#include <algorithm>

#include "DetectorInternal.h"

namespace velmora {
namespace {

constexpr int32_t kBurstLevel = 130;        // rawAccMag of an impact burst sample
constexpr int32_t kBurstMinAccum = 95;      // impactAccum a burst must exceed
constexpr int32_t kBurstMinLength = 3;      // samples above kBurstLevel
constexpr int32_t kJumpAyMin = -23000;      // raw y count of an upright impact,
constexpr int32_t kJumpAyMax = -4096;       // exclusive bounds
constexpr int32_t kLongLowRun = 13;         // a smoothed run this long ...
constexpr int32_t kLowRunBreakLevel = 150;  // ... is closed by a raw peak above this
constexpr int32_t kPeakWindowLength = 20;   // samples watched after a run closes
constexpr int32_t kStillLenStep = 6;        // stillLen decrement per continuing sample

int32_t saturatingAdd(int32_t a, int32_t b) { return saturate32(int64_t{a} + b); }

// Span of the jump window opened by an impact of magnitude s (x100 g).
int32_t jumpSpan(int32_t s, int32_t maxJumpSpan) {
  int32_t span;
  if (s < 175) {
    span = (s - 100) * 13 / 100;
  } else if (s < 200) {
    span = (s - 100) * ((s - 175) * 7 / 25 + 13) / 100;
  } else {
    span = (s - 100) * 20 / 100;
  }
  return std::min(span, maxJumpSpan);
}

void openPeakWindow(DetectorContext& context) {
  // A window still open keeps its peak and is only extended.
  if (context.peakWindowEnd < context.sampleIndex) {
    context.postPeak = 0;
  }
  context.peakWindowEnd = saturatingAdd(context.sampleIndex, kPeakWindowLength);
}

void recordEvent(EventEntry (&ring)[kVelmoraEventRingSize], int32_t& pos, int64_t end, int32_t length) {
  ring[pos & (kVelmoraEventRingSize - 1)] = EventEntry{saturate32(end), length};
  pos = (pos + 1) & (kVelmoraEventRingSize - 1);
}

void closeLowRun(DetectorContext& context) {
  if (context.lowRun >= context.settings.minEventRun) {
    recordEvent(context.lowEvents, context.lowEventPos, int64_t{context.sampleIndex} - 1,
                context.lowRun);
    openPeakWindow(context);
  }
  context.lowRun = 0;
}

// Two low runs separated by a gap that holds a strong peak: `runLength` is
// the length of the run in progress, `last` the newest closed run of the same
// kind. Returns true when the jump-aligned pattern (code 7/107) holds.
bool alignedPattern(const DetectorContext& context, int32_t runLength, const EventEntry& last) {
  const DetectorSettings& s = context.settings;
  const int64_t runStart = int64_t{context.sampleIndex} - runLength + 1;
  const int64_t gap = runStart - last.end - 1;
  const int64_t adjust = uprightAdjust(context);
  return runLength >= s.lowRunMin - adjust && s.gapMin <= gap && gap <= s.gapMax &&
         last.length >= s.lowEventMinLen - adjust && int64_t{last.end} + 1 >= context.jumpEnd &&
         context.postPeak >= s.postPeakMin && last.end < context.postPeakIndex &&
         context.postPeakIndex < runStart;
}

// The same shape with total-length and posture conditions (code 8/108).
bool lengthPattern(const DetectorContext& context, int32_t runLength, const EventEntry& last) {
  const DetectorSettings& s = context.settings;
  const int64_t runStart = int64_t{context.sampleIndex} - runLength + 1;
  const int64_t gap = runStart - last.end - 1;
  return runLength >= 5 && s.gapMin <= gap && gap <= s.gapMax && last.length >= s.lowEventMinLen &&
         context.lowRun >= s.lowRunMin && int64_t{runLength} + last.length >= s.lowTotalMin &&
         uprightSpan(context, runLength) < runLength / 2 && context.postPeak >= s.postPeakMin &&
         last.end < context.postPeakIndex && context.postPeakIndex < runStart;
}

void trackImpact(DetectorContext& context, int32_t rawAccMag, VelmoraObservation* observation) {
  if (rawAccMag > kBurstLevel) {
    if (context.impactAccum == 0) {
      context.impactStart = context.sampleIndex;
    }
    context.impactAccum = saturatingAdd(context.impactAccum, rawAccMag - 100);
    return;
  }
  if (context.impactAccum > 0) {
    // A wrapping difference, so that a burst across the 32-bit wrap of
    // sampleIndex (after about 500 days) still has its true length.
    const int32_t burstLength = wrappingDifference(context.sampleIndex, context.impactStart);
    if (context.impactAccum > kBurstMinAccum && burstLength >= kBurstMinLength) {
      const int32_t span = std::min(context.impactAccum / 100 + 8, context.settings.maxJumpSpan);
      const int32_t newEnd = saturatingAdd(context.sampleIndex, span);
      // The accumulator only ever lengthens the window.
      const bool raised = context.jumpEnd < newEnd;
      if (raised) {
        context.jumpEnd = newEnd;
      }
      if (observation != nullptr) {
        observeBurst(*observation, context.impactAccum, burstLength, raised ? &newEnd : nullptr);
        traceBurst(*observation);
      }
    }
    context.impactAccum = 0;
  }
}

void trackJumpWindow(DetectorContext& context, const SampleRecord& sample,
                     const SampleFeatures& features) {
  const DetectorSettings& s = context.settings;
  const int32_t peak = features.rawAccMag;
  const bool opens = s.impactMin < peak && peak < s.impactMax && peak >= context.jumpPeak &&
                     kJumpAyMin < sample.ay && sample.ay < kJumpAyMax &&
                     -int64_t{s.rollLimit} < features.roll && features.roll < s.rollLimit &&
                     s.pitchImpactMin < features.pitch && features.pitch < s.pitchMax &&
                     !recentLowEvent(context, 5, 5);
  if (opens) {
    context.jumpPeak = peak;
    context.jumpStart = context.sampleIndex;
    context.jumpEnd = saturatingAdd(context.jumpStart, jumpSpan(peak, s.maxJumpSpan));
  }
  if (context.sampleIndex == context.jumpEnd) {
    context.jumpPeak = 0;
  }
}

// Returns 7 or 8 when a pattern on the smoothed run fires, else 0.
int32_t trackLowRun(DetectorContext& context, const SampleFeatures& features) {
  if (features.accMag > context.settings.lowLevel) {
    if (context.lowRun > 0) {
      closeLowRun(context);
    }
    return 0;
  }
  context.lowRun = saturatingAdd(context.lowRun, 1);
  // A long run hit by a raw peak is recorded at once, still low.
  if (context.lowRun >= kLongLowRun && features.rawAccMag > kLowRunBreakLevel) {
    closeLowRun(context);
  }
  const EventEntry& last = newestEvent(context.lowEvents, context.lowEventPos);
  if (alignedPattern(context, context.lowRun, last)) {
    return 7;
  }
  if (lengthPattern(context, context.lowRun, last)) {
    return 8;
  }
  return 0;
}

// Returns 107 or 108 when a pattern on the raw run fires, else 0.
int32_t trackStillRun(DetectorContext& context, const SampleFeatures& features) {
  const DetectorSettings& s = context.settings;
  const int32_t peak = features.rawAccMag;
  if (context.stillRun > 0 && peak > s.stillExitLevel) {
    if (context.stillLenSaved >= s.minEventRun) {
      recordEvent(context.stillEvents, context.stillEventPos,
                  int64_t{context.stillStart} + context.stillLenSaved - 1, context.stillLenSaved);
      openPeakWindow(context);
    }
    context.stillRun = 0;
    context.stillSum = 0;
    context.stillLen = 0;
    context.stillAvg = 0;
    context.stillHighRun = 0;
    context.stillHighSum = 0;
    return 0;
  }
  if (context.stillRun > 0) {
    context.stillRun = saturatingAdd(context.stillRun, 1);
    context.stillSum = saturatingAdd(context.stillSum, peak);
    if (peak > s.lowLevel) {
      context.stillHighRun = saturatingAdd(context.stillHighRun, 1);
      context.stillHighSum = saturatingAdd(context.stillHighSum, peak);
    } else {
      context.stillHighRun = 0;
      context.stillHighSum = 0;
    }
    // The run's first sample is never counted as high, so quiet >= 1 (the
    // guard only matters once the counters have saturated).
    const int32_t quiet = std::max<int32_t>(context.stillRun - context.stillHighRun, 1);
    if (context.stillRun >= s.minEventRun) {
      context.stillAvg = saturate32((int64_t{context.stillSum} - context.stillHighSum) / quiet);
    }
    if (context.stillAvg > s.stillAvgMax || peak > s.lowLevel) {
      context.stillLen = 0;
    } else {
      context.stillLen = quiet;
      context.stillLenSaved = quiet;
    }
    const EventEntry& last = newestEvent(context.stillEvents, context.stillEventPos);
    int32_t code = 0;
    if (alignedPattern(context, context.stillLen, last)) {
      code = 107;
    } else if (lengthPattern(context, context.stillLen, last)) {
      code = 108;
    }
    // stillLen steps down once per continuing sample, before any report.
    if (context.stillLen >= kStillLenStep) {
      context.stillLen -= kStillLenStep;
    }
    return code;
  }
  if (peak <= s.stillEnterLevel) {
    context.stillRun += 1;
    context.stillSum += peak;
    context.stillLen += 1;
    context.stillStart = context.sampleIndex;
  }
  return 0;
}

void trackPostPeak(DetectorContext& context, int32_t rawAccMag) {
  if (context.sampleIndex < context.peakWindowEnd && rawAccMag > context.postPeak) {
    context.postPeak = rawAccMag;
    context.postPeakIndex = context.sampleIndex;
  }
}

}  // namespace

int32_t uprightAdjust(const DetectorContext& context) {
  const int32_t n = uprightSpan(context, 17);
  return n >= 11 ? -6 - n / 4 : (17 - n) / 4;
}

bool recentLowEvent(const DetectorContext& context, int32_t maxAge, int32_t minLen) {
  if (context.lowRun >= minLen) {
    return true;
  }
  const EventEntry& last = newestEvent(context.lowEvents, context.lowEventPos);
  return !(int64_t{context.sampleIndex} - last.end > maxAge || last.length < minLen);
}

int32_t trackEvents(DetectorContext& context, const SampleRecord& sample,
                    const SampleFeatures& features, VelmoraObservation* observation) {
  trackImpact(context, features.rawAccMag, observation);
  trackJumpWindow(context, sample, features);
  if (features.rawAccMag > context.settings.turnAccLevel &&
      features.rawGyroMag > context.settings.turnGyroLevel) {
    context.turnRun = saturatingAdd(context.turnRun, 1);
  } else {
    context.turnRun = 0;
  }
  if (const int32_t code = trackLowRun(context, features); code != 0) {
    return code;
  }
  if (const int32_t code = trackStillRun(context, features); code != 0) {
    return code;
  }
  trackPostPeak(context, features.rawAccMag);
  return 0;
}

}  // namespace velmora
