// Pieces of VelmoraProcess shared between the detector's own source files.
// Not part of the public interface.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "Velmora.h"

namespace velmora {

// Samples at the start of a recording that only build features.
inline constexpr int32_t kWarmUpSamples = 40;

// Features of the current sample (not stored unless a ring says so).
struct SampleFeatures {
  int32_t accMag;      // smoothed acceleration magnitude x 100
  int32_t rawAccMag;   // raw acceleration magnitude x 100
  int32_t gyroMag;     // smoothed angular-rate magnitude, deg/s
  int32_t rawGyroMag;  // raw angular-rate magnitude, deg/s
  int32_t roll;        // degrees
  int32_t pitch;       // degrees, 0 when upright
  int32_t accAvg;      // accSum / avgWindow
  int32_t gyroAvg;     // gyroSum5 / 5
  char postureFlag;    // 'O' upright, 'X' otherwise
};

// Ring slot `back` samples before `pos`, for any offsets (wraps, never
// overflows).
[[nodiscard]] inline int32_t ringSlot(int32_t pos, int64_t back, uint32_t mask = kRingSize - 1) {
  return static_cast<int32_t>((static_cast<uint64_t>(pos) - static_cast<uint64_t>(back)) & mask);
}

// a + b in two's complement, without the undefined behaviour of a signed
// overflow. Used for counters whose differences are all that matters.
[[nodiscard]] inline int32_t wrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// a - b in two's complement (the elapsed samples between two indices, even
// across the 32-bit wrap of sampleIndex).
[[nodiscard]] inline int32_t wrappingDifference(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Clamps a 64-bit intermediate into the 32-bit words of the context. Only
// extreme settings or recordings of years reach the limits.
[[nodiscard]] inline int32_t saturate32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

// Truncation toward zero that is defined for every input: NaN gives 0 and
// values beyond the 32-bit range saturate.
[[nodiscard]] inline int32_t truncateToInt32(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 2147483647.0) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value <= -2147483648.0) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

// Samples among the newest k (the current one included) that passed the
// upright test.
[[nodiscard]] inline int32_t uprightSpan(const DetectorContext& context, int64_t k) {
  const uint32_t now =
      static_cast<uint32_t>(context.uprightRing[context.ringPos & (kRingSize - 1)]);
  const uint32_t then = static_cast<uint32_t>(context.uprightRing[ringSlot(context.ringPos, k)]);
  return static_cast<int32_t>(now - then);
}

// Newest entry of an event ring whose next write slot is `pos`.
[[nodiscard]] inline const EventEntry& newestEvent(const EventEntry (&ring)[kEventRingSize],
                                                   int32_t pos) {
  return ring[ringSlot(pos, 1, kEventRingSize - 1)];
}

// Feature stage: conversion, smoothing, magnitudes, attitude, rings, sums.
SampleFeatures computeFeatures(DetectorContext& context, const SampleRecord& sample);

// Event stage for samples from kWarmUpSamples on. Returns 0, or the code of a
// pattern test that fired (7, 8, 107, 108); the caller then reports it.
int32_t trackEvents(DetectorContext& context, const SampleRecord& sample,
                    const SampleFeatures& features);

// Outcome of the main decision tree.
struct Classification {
  int32_t code;     // 0 = no fall
  int32_t fallLen;  // fall length shown in the trace
};
Classification classifySample(const DetectorContext& context, const SampleFeatures& features);

// Shared by the pattern tests and the main tree.
[[nodiscard]] bool recentLowEvent(const DetectorContext& context, int32_t maxAge, int32_t minLen);
[[nodiscard]] int32_t uprightAdjust(const DetectorContext& context);

// Trace pieces; each is a no-op when traceStream is null.
void traceHead(const DetectorContext& context, const SampleRecord& sample,
               const SampleFeatures& features);
void traceImpact(int32_t impactAccum, int32_t burstLength, const int32_t* newEnd);
void traceOutcome(const DetectorContext& context, int32_t fallLen);
void traceEnd(int32_t code);

}  // namespace velmora
