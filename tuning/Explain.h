// Why a recording came out wrong, and what single change of one setting
// would have made it right, at what cost over the whole dataset.
//
// Everything here is computed, not estimated: each candidate value runs the
// detector's settings-dependent step over the cached measurements. Two
// values of a setting that only ever meets a per-sample quantity in one
// comparison (a "threshold" setting, see ExplainThresholds.cpp) behave
// identically on a recording unless one of that recording's values lies
// between them, so such a setting is run once per distinct behaviour, not
// once per integer. Every other setting is run at every integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EvalJudge.h"
#include "RecordingCache.h"
#include "Search.h"
#include "TuneSpace.h"
#include "Velmora.h"

namespace tune {

using velmora::evaluation::Outcome;

struct ExplainConfig {
  // Settings to try and their ranges; the steps are not used: every integer
  // of the range that the detector accepts is a candidate.
  std::vector<Dimension> space;
  DetectorSettings base{};
  int64_t toleranceSamples = 50;
  int jobs = 0;
  // Runs every integer even of threshold settings (slow; the check of the
  // classes).
  bool everyValue = false;
};

enum class Side { Down, Up };
[[nodiscard]] const char* sideName(Side side);  // "down", "up"

// The nearest value on one side of the base value that makes one recording
// right (tp for a fall, tn for daily living).
struct RecordingFix {
  std::size_t dimension = 0;  // index into the space
  Side side = Side::Up;
  int32_t value = 0;
};

// Causes of an error, named after the nearest single fix (fewest steps of
// the space from the base value); the list and its words are fixed.
enum class Cause {
  ShallowLow,      // lowLevel
  ShortLowRun,     // avgWindow
  RawRun,          // stillEnterLevel, stillExitLevel, stillAvgMax, minEventRun
  JumpWindow,      // impactMin, impactMax, pitchImpactMin, maxJumpSpan
  WeakImpact,      // burstHigh, burstLow
  BurstTiming,     // burst windows and minimum lengths
  Upright,         // uprightLag, uprightDeltaMax, rollLimit, pitchUprightMin, pitchMax
  Rotation,        // gyroAvgLow, gyroAvgHigh, accAvgLimit
  Tumbling,        // turnAccLevel, turnGyroLevel, turnRunMin
  TwoDrops,        // lowEventMinLen, lowRunMin, lowTotalMin, gapMin, gapMax, postPeakMin
  NoSingleSetting  // no value of any setting in the space makes it right
};
inline constexpr std::size_t kCauseCount = 11;
[[nodiscard]] const char* causeKey(Cause cause);    // "short_low_run", ...
[[nodiscard]] const char* causeWords(Cause cause);  // "low run too short", ...
// The same cause said of an alarm: "low run long enough", ...
[[nodiscard]] const char* causeAlarmWords(Cause cause);
// The settings whose fixes point to the cause, separated by blanks.
[[nodiscard]] const char* causeSettings(Cause cause);
// The cause a fix of this setting points to.
[[nodiscard]] Cause causeOfSetting(const char* settingName);

// One result-code family and how far the detector got with it near the
// fall (or the alarm).
struct PatternStage {
  std::string codes;    // "1 3 12 14 (101 ...)"
  std::string pattern;  // "long low phase"
  std::string reached;  // the stage in words, margins in the setting's units
  // Shortfall in steps of the limiting setting (0 when the pattern fired),
  // for ordering the families by closeness.
  double distance = 0.0;
};

// What the detector saw around the fall (fall recordings) or the first
// alarm (daily living), from its observation record under the base
// settings. Positions are data-line positions.
struct Sight {
  int64_t anchor = 0;  // fall position or first alarm
  int64_t windowStart = 0;
  int64_t windowEnd = 0;  // exclusive
  int32_t peakAcc = 0;    // raw acceleration magnitude, g/100
  int64_t peakAccAt = 0;
  int32_t peakSum3 = 0;  // rawAccSum3, g/100
  int64_t peakSum3At = 0;
  int32_t lowestAcc = 0;      // smoothed acceleration magnitude, g/100
  int32_t longestLowRun = 0;  // smoothed low run, samples
  int32_t longestRawRun = 0;  // raw low run as counted (stillLen), samples
  int32_t longestFallLen = 0;
  int32_t fallLenNeeded = 0;  // avgWindow
  int32_t jumpSamples = 0;    // samples of the window inside a jump window
  int32_t lowInJump = 0;      // low-run samples inside a jump window
  int32_t uprightAfterPeak = 0;
  int32_t samplesAfterPeak = 0;  // up to one second after the peak
  int32_t maxRollAfterPeak = 0;  // largest |roll| after the peak, degrees
  int32_t minPitchAfterPeak = 0;
  int32_t maxPitchAfterPeak = 0;
  int32_t longestTurnRun = 0;
  std::vector<PatternStage> stages;  // closest first
};

struct RecordingExplanation {
  std::size_t recording = 0;  // index into the cache
  Outcome outcome = Outcome::Missed;
  std::optional<int64_t> firstIndex;
  int32_t firstCode = 0;
  std::vector<RecordingFix> fixes;  // space order, down before up
  Cause cause = Cause::NoSingleSetting;
  Sight sight;
};

// The dataset-wide effect of one (setting, value) that fixes at least one
// recording, the other settings at their base values.
struct FixCost {
  std::size_t dimension = 0;
  int32_t value = 0;
  int64_t recordingsFixed = 0;   // errors whose nearest fix on that side it is
  int64_t fallsGained = 0;       // fall recordings that become tp
  int64_t fallsLost = 0;         // tp that stop being
  int64_t falseAlarmsAdded = 0;  // daily-living alarms, per recording, more than at base
  int64_t falseAlarmsRemoved = 0;
  OutcomeCounts counts;
};

struct Explanation {
  std::vector<Dimension> space;
  DetectorSettings base{};
  int64_t toleranceSamples = 50;
  std::vector<velmora::evaluation::RecordingResult> results;  // base settings, cache order
  OutcomeCounts baseCounts;
  std::vector<RecordingExplanation> errors;  // cache order
  std::vector<FixCost> costs;                // by dimension, then value
  std::vector<std::size_t> ranking;          // indices into costs, best first
  int64_t candidateSamples = 0;              // samples run by candidate values
};

// Explains every wrong recording of the cache. The result does not depend
// on config.jobs.
[[nodiscard]] Explanation explainRecordings(const RecordingCache& cache,
                                            const ExplainConfig& config);

// What the detector saw in one recording: `observations` are the base
// settings' observations of every sample (positions from `positionOf`).
[[nodiscard]] Sight describeSight(const CachedRecording& recording,
                                  const DetectorSettings& settings, int64_t anchor);

// For each value low..high of the space's dimension, the value whose run
// stands for it on this recording: the lowest value of its class. Every
// value of a class gives the same codes on that recording.
[[nodiscard]] std::vector<int32_t> behaviourClasses(const CachedRecording& recording,
                                                    const ExplainConfig& config,
                                                    std::size_t dimension);

// The cost of (dimension, value), or null when that value fixes nothing.
[[nodiscard]] const FixCost* findCost(const Explanation& explanation, std::size_t dimension,
                                      int32_t value);

// "lowLevel ≥ 72" for an up fix, "avgWindow ≤ 12" for a down one.
[[nodiscard]] std::string fixCondition(const Explanation& explanation, const RecordingFix& fix);

}  // namespace tune
