// Recordings held in memory for a tuning run: each file is read and parsed
// once, and the settings-independent work of every sample is done once, so
// that each candidate setting only runs the settings-dependent step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EvalJudge.h"
#include "EvalRecordings.h"
#include "EvalSummary.h"
#include "Velmora.h"

namespace tune {

using velmora::evaluation::DetectionTally;
using velmora::evaluation::EvalSummary;
using velmora::evaluation::LoadedRecording;
using velmora::evaluation::RecordingEntry;
using velmora::evaluation::RecordingResult;

// Per sample, the cache keeps what the settings-independent step made of
// it (SampleMeasurement, which holds the raw sample too: the event stage
// reads it); the raw samples of the loaded recording are released.
struct CachedRecording {
  LoadedRecording loaded;  // annotation and data-line positions; no samples
  std::string name;        // file name, the part --group-by reads
  std::vector<SampleMeasurement> measurements;
  // "sha256:<hex>" of the file's bytes (see Provenance.h); empty when the
  // file could not be read.
  std::string fileFingerprint;
};

// Bytes the cache keeps per sample (plus 8 for a data-line position in a
// recording with short lines).
inline constexpr std::size_t kCachedBytesPerSample = sizeof(SampleMeasurement);

struct RecordingCache {
  std::vector<CachedRecording> recordings;  // in the order of the search
  uint64_t fingerprint = 0;                 // of names, annotations and samples
  int64_t samples = 0;                      // cached samples, all recordings

  // Memory the per-sample cache takes.
  [[nodiscard]] std::size_t bytes() const;
};

// Reads every recording on `jobs` threads. `onProgress` as for
// velmora::evaluation::loadRecordings.
[[nodiscard]] RecordingCache loadCache(const std::vector<RecordingEntry>& entries, int jobs,
                                       const std::function<void(std::size_t)>& onProgress);

// Runs the settings-dependent step over a cached recording with settings
// the detector accepts; an unreadable recording gives an empty tally.
[[nodiscard]] DetectionTally replayCached(const CachedRecording& recording,
                                          const DetectorSettings& settings);
// The same replay, giving the result code of every sample.
[[nodiscard]] std::vector<int32_t> replayCachedCodes(const CachedRecording& recording,
                                                     const DetectorSettings& settings);

// Evaluates every candidate on the recordings `subset` names (indices into
// the cache) on `jobs` threads. Returns tallies[candidate][i] for
// subset[i]; the order of work never shows in the result.
[[nodiscard]] std::vector<std::vector<DetectionTally>> evaluateCandidates(
    const RecordingCache& cache, const std::vector<std::size_t>& subset,
    const std::vector<DetectorSettings>& candidates, int jobs);

// The results velmora-eval gives for these tallies.
[[nodiscard]] std::vector<RecordingResult> judgeTallies(const RecordingCache& cache,
                                                        const std::vector<std::size_t>& subset,
                                                        const std::vector<DetectionTally>& tallies,
                                                        int64_t toleranceSamples);

}  // namespace tune
