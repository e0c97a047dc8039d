// Recordings held in memory for a tuning run: each file is read and parsed
// once, and the settings-independent work of every sample is done once, so
// that each candidate setting only runs the settings-dependent step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EvalRun.h"
#include "EvalSummary.h"
#include "RecordingSet.h"
#include "Velmora.h"

// One sample as every candidate needs it: the raw counts (the event stage
// and the trace read them) and what the settings-independent step made of
// them.
struct CachedSample {
  SampleRecord raw;
};

struct CachedRecording {
  RecordingEntry entry;
  std::string name;  // file name, the part --group-by reads
  bool isFall = false;
  int32_t fallPosition = 0;
  bool readable = false;
  std::string problem;  // why unreadable, or the short-line notice
  int64_t dataLines = 0;
  int64_t shortLines = 0;
  std::vector<int64_t> shortPositions;  // data-line positions too short to replay, ascending
  std::vector<CachedSample> samples;
};

struct RecordingCache {
  std::vector<CachedRecording> recordings;  // in the order of the search
  uint64_t fingerprint = 0;                 // of names, annotations and samples
  int64_t samples = 0;                      // cached samples, all recordings

  [[nodiscard]] std::size_t bytes() const;  // memory the samples take
};

// Reads every recording on `jobs` threads. `onProgress` as for evaluateAll.
[[nodiscard]] RecordingCache loadRecordings(const std::vector<RecordingEntry>& entries, int jobs,
                                            const std::function<void(std::size_t)>& onProgress);

// What one candidate did on one recording, in the few words the summaries
// need.
struct CandidateOutcome {
  int64_t firstIndex = -1;  // data-line position of the first positive result; -1: none
  int64_t detections = 0;
  int64_t alarms = 0;
  int32_t firstCode = 0;
};

// Runs the settings-dependent step over a cached recording (which must be
// readable) with settings the detector accepts.
[[nodiscard]] CandidateOutcome replayCached(const CachedRecording& recording,
                                            const DetectorSettings& settings);

// The evaluation's view of an outcome; `path` is left empty unless asked for.
[[nodiscard]] RecordingResult toResult(const CachedRecording& recording,
                                       const CandidateOutcome& outcome, int64_t toleranceSamples,
                                       bool withPath);

// Evaluates every candidate on the recordings `subset` names (indices into
// the cache) on `jobs` threads. Returns outcomes[candidate][i] for
// subset[i]; the order of work never shows in the result.
[[nodiscard]] std::vector<std::vector<CandidateOutcome>> evaluateCandidates(
    const RecordingCache& cache, const std::vector<std::size_t>& subset,
    const std::vector<DetectorSettings>& candidates, int jobs);

// The summary velmora-eval prints for these settings on `subset`.
[[nodiscard]] EvalSummary summariseOutcomes(const RecordingCache& cache,
                                            const std::vector<std::size_t>& subset,
                                            const std::vector<CandidateOutcome>& outcomes,
                                            int64_t toleranceSamples);
