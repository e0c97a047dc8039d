// Public interface of the Velmora fall detector.
//
// The caller owns a DetectorSettings and a DetectorContext record and calls,
// in this order: VelmoraDefaultSettings, (optionally edit the settings),
// VelmoraSet, VelmoraProcess once per sample in recording order, VelmoraClose.
// Contexts are independent of each other; each may run on its own thread.
#pragma once

#include <cstdint>
#include <cstdio>

#include "AttitudeFilter.h"

// One sample of the body-worn sensor in raw counts: acceleration at 8192
// counts per g, angular rate at 65.536 counts per degree per second.
struct SampleRecord {
  int16_t ax;
  int16_t ay;
  int16_t az;
  int16_t gx;
  int16_t gy;
  int16_t gz;
};

// The 35 tunable settings, in their fixed order. Magnitudes are in
// hundredths of g, angles in whole degrees, lengths in samples (20 ms).
struct DetectorSettings {
  int32_t avgWindow;  // running-mean window of the smoothed magnitude, 1..63
  int32_t lowLevel;   // low-acceleration level
  int32_t impactMin;  // impact candidate: rawAccMag above this ...
  int32_t impactMax;  // ... and below this
  int32_t gyroAvgLow;
  int32_t gyroAvgHigh;
  int32_t accAvgLimit;
  int32_t spare7;  // unused
  int32_t rollLimit;
  int32_t pitchUprightMin;
  int32_t pitchImpactMin;
  int32_t pitchMax;
  int32_t minEventRun;
  int32_t maxJumpSpan;
  int32_t stillEnterLevel;
  int32_t stillExitLevel;
  int32_t stillAvgMax;
  int32_t burstHigh;
  int32_t burstHighWindow;
  int32_t burstHighMinLen;
  int32_t burstLow;
  int32_t burstLowWindow;
  int32_t burstLowMinLen;
  int32_t uprightLag;
  int32_t uprightDeltaMax;
  int32_t turnAccLevel;
  int32_t turnGyroLevel;
  int32_t turnRunMin;
  int32_t lowEventMinLen;
  int32_t lowRunMin;
  int32_t lowTotalMin;
  int32_t gapMin;
  int32_t gapMax;
  int32_t postPeakMin;
  int32_t spare34;  // unused
};

// A closed low-acceleration run: the sample index it ended at and its length.
struct EventEntry {
  int32_t end;
  int32_t length;
};

// First-order low-pass filter state (one per sensor axis).
struct SmoothingFilter {
  float out;
  float prevIn;
  float prevOut;
};

inline constexpr int kRingSize = 64;       // feature history, indexed by ringPos
inline constexpr int kEventRingSize = 32;  // closed runs kept per event ring

// Everything the detector keeps for one recording. Written only by the
// detector; the caller owns the storage.
struct DetectorContext {
  DetectorSettings settings;
  AttitudeFilter attitude;
  int32_t accRing[kRingSize];
  int32_t rawAccRing[kRingSize];
  int32_t gyroRing[kRingSize];
  int32_t uprightCount;
  int32_t uprightRing[kRingSize];
  int32_t ringPos;
  int32_t sampleIndex;
  int32_t accSum;
  int32_t gyroSum5;
  int32_t rawAccSum3;
  int32_t gyroSum3;
  int32_t turnRun;
  int32_t jumpStart;
  int32_t jumpPeak;
  int32_t jumpEnd;
  int32_t impactAccum;
  int32_t impactStart;
  int32_t lowRun;
  int32_t lowEventPos;
  EventEntry lowEvents[kEventRingSize];
  int32_t stillRun;
  int32_t stillStart;
  int32_t stillLen;
  int32_t stillLenSaved;
  int32_t stillSum;
  int32_t stillAvg;
  int32_t stillHighRun;
  int32_t stillHighSum;
  int32_t stillEventPos;
  EventEntry stillEvents[kEventRingSize];
  int32_t peakWindowEnd;
  int32_t postPeak;
  int32_t postPeakIndex;
  SmoothingFilter smoothing[6];  // acc x, y, z, then gyro x, y, z
};

// Result codes other than 0 name the pattern that recognised a fall; a
// hundreds digit of 1 marks a fall length taken from the raw low run.
inline constexpr int32_t kFallCodes[] = {1,  2,   3,   4,   5,   6,   7,   8,   9,   12, 14,
                                         16, 101, 102, 103, 104, 107, 108, 109, 112, 114};

// Diagnostic trace: when non-null, every VelmoraProcess call writes one text
// line describing the sample to this stream. Null by default. The detector
// never opens, flushes or closes it.
extern std::FILE* traceStream;

[[nodiscard]] const char* VelmoraGetVersion();
int32_t VelmoraDefaultSettings(DetectorSettings* settings);
// Prepares the context from the settings. Returns -1 (and leaves the
// context untouched) when avgWindow lies outside 1..63.
[[nodiscard]] int32_t VelmoraSet(DetectorContext* context, const DetectorSettings* settings);
// Consumes one sample; returns 0 or one of kFallCodes.
int32_t VelmoraProcess(DetectorContext* context, const SampleRecord* sample);
// Releases what VelmoraSet acquired. The context may be set up again.
int32_t VelmoraClose(DetectorContext* context);
