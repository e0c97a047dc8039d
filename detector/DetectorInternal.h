// Pieces of VelmoraProcess shared between the detector's own source files.
// Not part of the public interface.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "Velmora.h"
#include "VelmoraObservation.h"

namespace velmora {

// Samples at the start of a recording that only build features.
inline constexpr int32_t kWarmUpSamples = 40;

// avgWindow divides every sample's running mean and must fit in the ring.
inline constexpr int32_t kMaxAvgWindow = kVelmoraRingSize - 1;

// True when every setting lies within its hard limits (VelmoraSettings.h).
[[nodiscard]] bool settingsRunnable(const DetectorSettings& settings);

// Features of the current sample (not stored unless a ring says so): the
// measured ones and those that depend on the settings.
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
[[nodiscard]] inline int32_t ringSlot(int32_t pos, int64_t back, uint32_t mask = kVelmoraRingSize - 1) {
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
      static_cast<uint32_t>(context.uprightRing[context.ringPos & (kVelmoraRingSize - 1)]);
  const uint32_t then = static_cast<uint32_t>(context.uprightRing[ringSlot(context.ringPos, k)]);
  return static_cast<int32_t>(now - then);
}

// Newest entry of an event ring whose next write slot is `pos`.
[[nodiscard]] inline const EventEntry& newestEvent(const EventEntry (&ring)[kVelmoraEventRingSize],
                                                   int32_t pos) {
  return ring[ringSlot(pos, 1, kVelmoraEventRingSize - 1)];
}

// A context that was closed, or zero-initialised and never set up, has no
// orientation.
[[nodiscard]] inline bool isClosed(const DetectorContext& context) {
  return context.attitude.orientation == nullptr;
}

// Settings-independent part of the feature stage: conversion, smoothing,
// magnitudes, attitude, roll and pitch.
void measureSample(DetectorContext& context, const SampleRecord& sample,
                   SampleMeasurement& measurement);
// The rest of the feature stage: rings, running sums and posture.
SampleFeatures updateHistory(DetectorContext& context, const SampleMeasurement& measurement);

// Event stage for samples from kWarmUpSamples on. Returns 0, or the code of a
// pattern test that fired (7, 8, 107, 108); the caller then reports it.
// When `observation` is not null the burst piece is recorded (and traced).
int32_t trackEvents(DetectorContext& context, const SampleRecord& sample,
                    const SampleFeatures& features, VelmoraObservation* observation);

// Outcome of the main decision tree.
struct Classification {
  int32_t code;     // 0 = no fall
  int32_t fallLen;  // fall length shown in the trace
};
Classification classifySample(const DetectorContext& context, const SampleFeatures& features);

// A low run of at least minLen samples in progress, or one that ended at
// most maxAge samples ago. Read by the impact test, the burst tests of the
// main tree and nothing else.
[[nodiscard]] bool recentLowEvent(const DetectorContext& context, int32_t maxAge, int32_t minLen);
// Shift of the aligned pattern's length limits (subtracted from them) by the
// upright samples among the last 17: a mostly upright wearer raises the
// limits, one mostly lying lowers them. Read by the aligned pattern only.
[[nodiscard]] int32_t uprightAdjust(const DetectorContext& context);
// Turn count that makes a fall (code 5): turnRunMin plus half the upright
// samples among the last turnRun. Also shown by the trace.
[[nodiscard]] inline int64_t turnThreshold(const DetectorContext& context) {
  return int64_t{context.settings.turnRunMin} + uprightSpan(context, context.turnRun) / 2;
}

// Observation pieces, filled at the moments the trace prints them.
void observeHead(VelmoraObservation& observation, const DetectorContext& context,
                 const SampleMeasurement& measurement, const SampleFeatures& features);
void observeBurst(VelmoraObservation& observation, int32_t impactAccum, int32_t burstLength,
                  const int32_t* newJumpEnd);
void observeOutcome(VelmoraObservation& observation, const DetectorContext& context,
                    int32_t fallLen);

// Trace pieces printed from the observation; each is a no-op when
// traceStream is null.
void traceHead(const VelmoraObservation& observation);
void traceBurst(const VelmoraObservation& observation);
void traceOutcome(const VelmoraObservation& observation, int32_t turnRunMin);
void traceEnd(const VelmoraObservation& observation);

}  // namespace velmora
