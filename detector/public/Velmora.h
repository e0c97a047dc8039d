// Public interface of the Velmora fall detector.
//
// The caller owns a DetectorSettings and a DetectorContext record and calls,
// in this order: VelmoraDefaultSettings, (optionally edit the settings),
// VelmoraSet, VelmoraProcess once per sample in recording order, VelmoraClose.
// Contexts are independent of each other; each may run on its own thread.
#pragma once

#include <cstdint>
#include <cstdio>

#include "AttitudeState.h"

// The sensor and timing the detector is made for: samples 20 ms apart,
// acceleration at 8192 counts per g (+-4 g in 16 bits), angular rate at
// 65.536 counts per degree per second (+-500 deg/s).
inline constexpr int32_t kSamplePeriodMs = 20;
inline constexpr int32_t kSamplesPerSecond = 1000 / kSamplePeriodMs;
inline constexpr double kCountsPerG = 8192.0;
inline constexpr double kCountsPerDps = 65.536;

// Milliseconds from an annotated fall position to the sample at which a fall
// was detected (negative when detected before it); positions in samples.
[[nodiscard]] constexpr int64_t VelmoraDetectionDelayMs(int64_t detectedAt, int64_t fallPosition) {
  return (detectedAt - fallPosition) * kSamplePeriodMs;
}

// One sample of the body-worn sensor in raw counts, at the scales above.
struct SampleRecord {
  int16_t ax;
  int16_t ay;
  int16_t az;
  int16_t gx;
  int16_t gy;
  int16_t gz;
};

// The 35 settings, in their fixed order. Magnitudes are in hundredths of g
// (100 = 1 g), angles in whole degrees, rates in degrees per second, lengths
// and times in samples (20 ms). Every comparison named is one the detector
// makes; VelmoraSettings.h lists the same settings by name with units,
// limits and tuning ranges.
struct DetectorSettings {
  // Window of the running mean accAvg of accMag, 1..63 (VelmoraSet refuses
  // others); also the fall length the slow and long-fall codes need.
  int32_t avgWindow;
  // accMag at or below this starts or continues the smoothed low run
  // (lowRun); stillAvg and the raw run's samples are compared with it too.
  int32_t lowLevel;
  // An impact opens the jump window when impactMin < rawAccMag < impactMax
  // (and the posture and y-axis conditions hold).
  int32_t impactMin;
  int32_t impactMax;
  // gyroAvg < gyroAvgLow marks a slow fall, which needs the full fall length.
  int32_t gyroAvgLow;
  // gyroAvg < gyroAvgHigh (and the adjusted accAvg < accAvgLimit) lets a
  // quarter of the fall length count (codes 2 and 4).
  int32_t gyroAvgHigh;
  int32_t accAvgLimit;
  int32_t spare7;  // not read by the detector; kept for the record's layout
  // Upright (posture flag 'O') and impact tests: -rollLimit < roll < rollLimit.
  int32_t rollLimit;
  // Upright test: pitchUprightMin < pitch < pitchMax.
  int32_t pitchUprightMin;
  // Impact test: pitchImpactMin < pitch < pitchMax.
  int32_t pitchImpactMin;
  int32_t pitchMax;
  // A smoothed or raw low run at least this long is kept in its event ring;
  // the raw run's stillAvg is formed from this length on.
  int32_t minEventRun;
  // Longest jump window an impact opens (samples).
  int32_t maxJumpSpan;
  // Raw low run: starts at rawAccMag <= stillEnterLevel, ends at rawAccMag >
  // stillExitLevel, and keeps its length while stillAvg <= stillAvgMax.
  int32_t stillEnterLevel;
  int32_t stillExitLevel;
  int32_t stillAvgMax;
  // Strong burst (code 6): rawAccSum3 >= burstHigh after a low run of at
  // least burstHighMinLen samples that ended at most burstHighWindow ago.
  int32_t burstHigh;
  int32_t burstHighWindow;
  int32_t burstHighMinLen;
  // Moderate burst (code 16): rawAccSum3 >= burstLow after a low run of at
  // least burstLowMinLen that ended at most burstLowWindow ago ...
  int32_t burstLow;
  int32_t burstLowWindow;
  int32_t burstLowMinLen;
  // ... with at most uprightDeltaMax upright samples among the last
  // -uprightLag (uprightLag is a negative ring offset).
  int32_t uprightLag;
  int32_t uprightDeltaMax;
  // turnRun counts samples with rawAccMag > turnAccLevel and rawGyroMag >
  // turnGyroLevel; a turning fall (code 5) needs turnRun >= turnRunMin plus
  // half the upright samples among them.
  int32_t turnAccLevel;
  int32_t turnGyroLevel;
  int32_t turnRunMin;
  // Two-run patterns (codes 7, 8, 107, 108): the earlier run at least
  // lowEventMinLen, the current one at least lowRunMin, both together at
  // least lowTotalMin (code 8), a gap of gapMin..gapMax samples between them
  // and a rawAccMag peak of at least postPeakMin after the earlier one.
  int32_t lowEventMinLen;
  int32_t lowRunMin;
  int32_t lowTotalMin;
  int32_t gapMin;
  int32_t gapMax;
  int32_t postPeakMin;
  int32_t spare34;  // not read by the detector; kept for the record's layout
};

// What VelmoraDefaultSettings fills in.
inline constexpr DetectorSettings kDefaultSettings{
    .avgWindow = 15,
    .lowLevel = 60,
    .impactMin = 140,
    .impactMax = 400,
    .gyroAvgLow = 160,
    .gyroAvgHigh = 360,
    .accAvgLimit = 40,
    .spare7 = 50,
    .rollLimit = 38,
    .pitchUprightMin = -70,
    .pitchImpactMin = -90,
    .pitchMax = 35,
    .minEventRun = 4,
    .maxJumpSpan = 37,
    .stillEnterLevel = 60,
    .stillExitLevel = 90,
    .stillAvgMax = 55,
    .burstHigh = 1600,
    .burstHighWindow = 5,
    .burstHighMinLen = 3,
    .burstLow = 1200,
    .burstLowWindow = 5,
    .burstLowMinLen = 7,
    .uprightLag = -3,
    .uprightDeltaMax = 1,
    .turnAccLevel = 150,
    .turnGyroLevel = 150,
    .turnRunMin = 19,
    .lowEventMinLen = 10,
    .lowRunMin = 9,
    .lowTotalMin = 25,
    .gapMin = 5,
    .gapMax = 20,
    .postPeakMin = 400,
    .spare34 = 25,
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
// context untouched) when a setting lies outside its hard limits (today
// avgWindow outside 1..63; VelmoraCheckSettings says why).
[[nodiscard]] int32_t VelmoraSet(DetectorContext* context, const DetectorSettings* settings);
// Consumes one sample; returns 0 or one of kFallCodes. On a context that was
// closed, or on a zero-initialised one that was never set up, it returns 0
// and changes nothing. Any other context not set up by VelmoraSet (say,
// uninitialised memory) cannot be told from a set-up one: using it is
// undefined.
int32_t VelmoraProcess(DetectorContext* context, const SampleRecord* sample);

// VelmoraProcess in two steps, for callers that run one recording under many
// settings: VelmoraMeasure depends on no setting, so its records can be
// computed once per recording and replayed through VelmoraDecide on a
// freshly set-up context per candidate. VelmoraProcess is exactly
// VelmoraMeasure followed by VelmoraDecide, with identical results.

// What VelmoraMeasure finds in one sample. Magnitudes in hundredths of g
// (acceleration) and whole degrees per second (angular rate), angles in
// whole degrees, all truncated toward zero.
struct SampleMeasurement {
  SampleRecord sample;  // the raw sample, as given
  int32_t accMag;       // smoothed acceleration magnitude
  int32_t rawAccMag;    // raw acceleration magnitude
  int32_t gyroMag;      // smoothed angular-rate magnitude
  int32_t rawGyroMag;   // raw angular-rate magnitude
  int32_t roll;         // sideways lean, 0 when upright
  int32_t pitch;        // forward (+) or backward (-) lean, 0 when upright
};

// Step 1: unit conversion, smoothing, the four magnitudes, the attitude
// update, roll and pitch. Reads and writes only the context's smoothing and
// attitude members. Returns 0, or -1 (nothing written) on a closed context.
int32_t VelmoraMeasure(DetectorContext* context, const SampleRecord* sample,
                       SampleMeasurement* measurement);
// Step 2: rings and running sums, posture, warm-up, events, classification
// and the trace line. Returns what VelmoraProcess returns for the sample;
// 0 and no change on a closed context.
int32_t VelmoraDecide(DetectorContext* context, const SampleMeasurement* measurement);
// Releases what VelmoraSet acquired. Afterwards the context is safe to
// pass to VelmoraProcess (which returns 0) and to close again, and it may be
// set up again. Closing a zero-initialised context is safe too.
int32_t VelmoraClose(DetectorContext* context);
