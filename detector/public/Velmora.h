// Public interface of the Velmora fall detector.
//
// The caller owns a DetectorSettings and a DetectorContext record and calls,
// in this order: VelmoraDefaultSettings, (optionally edit the settings),
// VelmoraSet, VelmoraProcess once per sample in recording order, VelmoraClose.
// Contexts are independent of each other; each may run on its own thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "AttitudeState.h"

// The sensor and timing the detector is made for: samples 20 ms apart,
// acceleration at 8192 counts per g (+-4 g in 16 bits), angular rate at
// 65.536 counts per degree per second (+-500 deg/s).
inline constexpr int32_t kVelmoraSamplePeriodMs = 20;
inline constexpr int32_t kVelmoraSamplesPerSecond = 1000 / kVelmoraSamplePeriodMs;
inline constexpr double kVelmoraCountsPerG = 8192.0;
inline constexpr double kVelmoraCountsPerDps = 65.536;

// Milliseconds from an annotated fall position to the sample at which a fall
// was detected (negative when detected before it); positions in samples.
[[nodiscard]] constexpr int64_t VelmoraDetectionDelayMs(int64_t detectedAt, int64_t fallPosition) {
  return (detectedAt - fallPosition) * kVelmoraSamplePeriodMs;
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
  int32_t avgWindow;        // samples, 1..63: window of the mean accAvg; the fall length needed
  int32_t lowLevel;         // g/100: accMag at or below this is low acceleration (smoothed low run)
  int32_t impactMin;        // g/100: an impact opens the jump window when rawAccMag is above this
  int32_t impactMax;        // g/100: ... and below this
  int32_t gyroAvgLow;       // deg/s: gyroAvg below this is a slow fall, needing the full length
  int32_t gyroAvgHigh;      // deg/s: gyroAvg below this lets a quarter fall length count (2, 4)
  int32_t accAvgLimit;      // g/100: the rate-adjusted accAvg must be below this for codes 2 and 4
  int32_t spare7;           // unused: not read by the detector; kept for the record's layout
  int32_t rollLimit;        // deg: upright and impact tests need -rollLimit < roll < rollLimit
  int32_t pitchUprightMin;  // deg: the upright test needs pitch above this
  int32_t pitchImpactMin;   // deg: the impact test needs pitch above this
  int32_t pitchMax;         // deg: upright and impact tests need pitch below this
  int32_t minEventRun;      // samples: shortest low run kept as an event; stillAvg forms from here
  int32_t maxJumpSpan;      // samples: longest jump window an impact or burst opens
  int32_t stillEnterLevel;  // g/100: rawAccMag at or below this starts a raw low run
  int32_t stillExitLevel;   // g/100: rawAccMag above this ends the raw low run
  int32_t stillAvgMax;      // g/100: the raw run keeps its length while stillAvg is at most this
  int32_t burstHigh;        // g/100: rawAccSum3 at or above this is a strong burst (code 6)
  int32_t burstHighWindow;  // samples: a strong burst needs a low run ended at most this long ago
  int32_t burstHighMinLen;  // samples: ... that lasted at least this long
  int32_t burstLow;         // g/100: rawAccSum3 at or above this is a moderate burst (code 16)
  int32_t burstLowWindow;   // samples: a moderate burst needs a low run ended at most this long ago
  int32_t burstLowMinLen;   // samples: ... that lasted at least this long
  int32_t uprightLag;       // samples, negative: code 16 checks posture over the last -uprightLag
  int32_t uprightDeltaMax;  // samples: code 16 allows at most this many upright among them
  int32_t turnAccLevel;     // g/100: turnRun counts samples with rawAccMag above this ...
  int32_t turnGyroLevel;    // deg/s: ... and rawGyroMag above this
  int32_t turnRunMin;       // samples: turnRun for code 5, plus half its upright samples
  int32_t lowEventMinLen;   // samples: two-run codes (7, 8, 107, 108): the earlier run's length
  int32_t lowRunMin;        // samples: two-run codes: the current run's length
  int32_t lowTotalMin;      // samples: code 8: both runs together at least this long
  int32_t gapMin;           // samples: two-run codes: shortest gap between the runs
  int32_t gapMax;           // samples: two-run codes: longest gap between the runs
  int32_t postPeakMin;      // g/100: two-run codes: rawAccMag peak needed after the earlier run
  int32_t spare34;          // unused: not read by the detector; kept for the record's layout
};

// What VelmoraDefaultSettings fills in.
inline constexpr DetectorSettings kVelmoraDefaultSettings{
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

inline constexpr int kVelmoraRingSize = 64;       // feature history, indexed by ringPos
inline constexpr int kVelmoraEventRingSize = 32;  // closed runs kept per event ring

// Everything the detector keeps for one recording. Written only by the
// detector; the caller owns the storage. Magnitudes are in g/100 (hundredths
// of g) or deg/s as in SampleMeasurement, positions are sample indices
// (sampleIndex values), lengths are in samples.
struct DetectorContext {
  DetectorSettings settings;  // the settings VelmoraSet was given
  AttitudeFilter attitude;    // orientation estimate, from which roll and pitch come
  int32_t accRing[kVelmoraRingSize];     // accMag of the last samples, g/100
  int32_t rawAccRing[kVelmoraRingSize];  // rawAccMag of the last samples, g/100
  int32_t gyroRing[kVelmoraRingSize];    // gyroMag of the last samples, deg/s
  int32_t uprightCount;  // upright samples so far (wraps; only differences are read)
  int32_t uprightRing[kVelmoraRingSize];  // uprightCount after each of the last samples
  int32_t ringPos;      // ring slot of the current sample, 0..kVelmoraRingSize-1
  int32_t sampleIndex;  // samples since set-up, the current one's position (wraps past 2^31)
  int32_t accSum;       // sum of accMag over the last avgWindow samples, g/100
  int32_t gyroSum5;     // sum of gyroMag over the last 5 samples, deg/s
  int32_t rawAccSum3;   // sum of rawAccMag over the last 3 samples, g/100
  int32_t gyroSum3;     // sum of gyroMag over the last 3 samples, deg/s
  int32_t turnRun;      // consecutive samples above turnAccLevel and turnGyroLevel
  int32_t jumpStart;    // position at which the last jump window opened
  int32_t jumpPeak;     // rawAccMag that opened it, g/100; 0 once the window has ended
  int32_t jumpEnd;      // position at which the jump window ends
  int32_t impactAccum;  // sum of rawAccMag - 100 over the impact burst in progress, g/100
  int32_t impactStart;  // position at which that burst began
  int32_t lowRun;       // length of the smoothed low run in progress (accMag <= lowLevel)
  int32_t lowEventPos;  // next slot of lowEvents
  EventEntry lowEvents[kVelmoraEventRingSize];  // closed smoothed low runs, ring
  int32_t stillRun;       // length of the raw low run in progress, all its samples
  int32_t stillStart;     // position at which it began
  int32_t stillLen;       // its quiet length as the patterns count it
  int32_t stillLenSaved;  // its last quiet length, recorded when the run closes
  int32_t stillSum;       // sum of rawAccMag over the run, g/100
  int32_t stillAvg;       // mean rawAccMag of its quiet samples, g/100
  int32_t stillHighRun;   // consecutive samples at its end with rawAccMag above lowLevel
  int32_t stillHighSum;   // sum of rawAccMag over those samples, g/100
  int32_t stillEventPos;  // next slot of stillEvents
  EventEntry stillEvents[kVelmoraEventRingSize];  // closed raw low runs, ring
  int32_t peakWindowEnd;  // position until which the peak after a closed run is watched
  int32_t postPeak;       // largest rawAccMag in that window, g/100
  int32_t postPeakIndex;  // position of that peak
  SmoothingFilter smoothing[6];  // low-pass state: acc x, y, z, then gyro x, y, z
};

// Result codes other than 0 name the pattern that recognised a fall; a
// hundreds digit of 1 marks a fall length taken from the raw low run.
// VelmoraCodes.h describes each in words.
inline constexpr int32_t kVelmoraFallCodes[] = {1,  2,   3,   4,   5,   6,   7,   8,   9,   12, 14,
                                                16, 101, 102, 103, 104, 107, 108, 109, 112, 114};

// The names of the constants before they carried the prefix, for code built
// against earlier 2.x headers.
[[deprecated("use kVelmoraSamplePeriodMs")]] inline constexpr int32_t kSamplePeriodMs =
    kVelmoraSamplePeriodMs;
[[deprecated("use kVelmoraSamplesPerSecond")]] inline constexpr int32_t kSamplesPerSecond =
    kVelmoraSamplesPerSecond;
[[deprecated("use kVelmoraCountsPerG")]] inline constexpr double kCountsPerG = kVelmoraCountsPerG;
[[deprecated("use kVelmoraCountsPerDps")]] inline constexpr double kCountsPerDps =
    kVelmoraCountsPerDps;
[[deprecated("use kVelmoraDefaultSettings")]] inline constexpr DetectorSettings kDefaultSettings =
    kVelmoraDefaultSettings;
[[deprecated("use kVelmoraRingSize")]] inline constexpr int kRingSize = kVelmoraRingSize;
[[deprecated("use kVelmoraEventRingSize")]] inline constexpr int kEventRingSize =
    kVelmoraEventRingSize;
[[deprecated("use kVelmoraFallCodes")]] inline constexpr const int32_t (&kFallCodes)[std::size(
    kVelmoraFallCodes)] = kVelmoraFallCodes;

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
// Consumes one sample; returns 0 or one of kVelmoraFallCodes. On a context that was
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
