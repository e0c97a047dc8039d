// A whole evaluation: the recordings found under some paths, each replayed
// and judged (on several threads at once), summarised overall and per group.
// velmora-eval is a thin program around this; other programs load the
// recordings once and judge them themselves (see EvalJudge.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EvalGroups.h"
#include "EvalJudge.h"
#include "EvalRecordings.h"
#include "EvalSummary.h"
#include "Provenance.h"
#include "Velmora.h"

namespace velmora::evaluation {

struct Evaluation {
  std::vector<RecordingResult> results;  // in the order of the recordings
  EvalSummary overall;
  std::vector<GroupSummary> groups;  // empty unless grouping was asked for
  DetectorSettings settings{};
  double toleranceSeconds = 1.0;  // early tolerance
  int64_t toleranceSamples = 50;
  std::vector<GroupKey> groupKeys;  // empty unless grouping was asked for
  bool alarmsKept = false;          // each result's alarmRuns filled in
  SettingsProvenance provenance;    // the settings files, and what they were tuned on

  [[nodiscard]] bool grouped() const { return !groupKeys.empty(); }
};

struct EvaluationOptions {
  DetectorSettings settings{};  // must pass VelmoraCheckSettings()
  double toleranceSeconds = 1.0;
  // Grouping keys, in order; a non-empty groupPattern is one more pattern
  // key before them (the short way to ask for one).
  std::string groupPattern;
  std::vector<GroupKey> groupKeys;
  bool keepAlarms = false;  // fill in every result's alarmRuns
  // The settings files the settings came from; when they name the
  // recordings they were tuned on, each recording is fingerprinted and
  // marked in-sample or not.
  SettingsProvenance provenance;
  int jobs = 0;             // worker threads; 0: one per core
  // Called on the calling thread a few times a second and once at the end
  // with the number of recordings done; may be empty.
  std::function<void(std::size_t)> onProgress;
};

// The options with default settings (the record's own initialisers are
// not the detector's defaults).
[[nodiscard]] EvaluationOptions defaultEvaluationOptions();

// Runs work(index) for every index below `count` on `jobs` worker threads
// (fewer when the system refuses more); each index is run exactly once.
// `onProgress` as in EvaluationOptions.
void parallelFor(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t)>& onProgress);

// Loads every recording into memory (see loadRecording), in order.
[[nodiscard]] std::vector<LoadedRecording> loadRecordings(
    const std::vector<RecordingEntry>& recordings, int jobs,
    const std::function<void(std::size_t)>& onProgress);

// Replays and judges every recording as it is read (replayAndJudge), one
// at a time per worker; no samples are held. Results come back in the order of
// `recordings` whatever the number of workers.
[[nodiscard]] std::vector<RecordingResult> evaluateAll(
    const std::vector<RecordingEntry>& recordings, const DetectorSettings& settings,
    int64_t toleranceSamples, int jobs, const std::function<void(std::size_t)>& onProgress,
    bool keepAlarms = false);

// All the grouping keys of the options, groupPattern first.
[[nodiscard]] std::vector<GroupKey> groupKeysOf(const EvaluationOptions& options);

// Evaluates the recordings: results, groups and summaries. Returns an error
// message (a bad pattern or settings: nothing was run), or "" on success.
[[nodiscard]] std::string evaluate(const std::vector<RecordingEntry>& recordings,
                                   const EvaluationOptions& options, Evaluation& evaluation);

// Finds the recordings under `paths` (extension ".csv") and evaluates them.
// Returns an error message (bad settings or pattern, a folder without
// recordings), or "" on success; unreadable recordings are error rows.
[[nodiscard]] std::string evaluatePaths(const std::vector<std::string>& paths,
                                        const EvaluationOptions& options, Evaluation& evaluation);

}  // namespace velmora::evaluation
