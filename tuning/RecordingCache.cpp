#include "RecordingCache.h"

#include <filesystem>
#include <memory>

#include "DetectorSession.h"
#include "Digest.h"
#include "Provenance.h"
#include "Evaluation.h"

namespace tune {

namespace {

// The settings-independent step over a whole recording: the measurement
// needs a set-up context, whose settings it never reads.
std::vector<SampleMeasurement> measure(const LoadedRecording& recording) {
  std::vector<SampleMeasurement> measurements(recording.samples.size());
  if (!recording.readable() || recording.samples.empty()) {
    return measurements;
  }
  DetectorSettings defaults{};
  VelmoraDefaultSettings(&defaults);
  DetectorSession detector;
  if (!detector.open(defaults)) {
    return {};
  }
  for (std::size_t i = 0; i < recording.samples.size(); ++i) {
    (void)VelmoraMeasure(detector.context(), &recording.samples[i], &measurements[i]);
  }
  return measurements;
}

// The settings-dependent step over a cached recording, handing each
// sample's index and code to `onCode`.
template <typename OnCode>
void decideRecording(const CachedRecording& recording, const DetectorSettings& settings, OnCode&& onCode) {
  if (!recording.loaded.readable()) {
    return;
  }
  // One context per thread, reused.
  thread_local DetectorSession detector;
  if (!detector.open(settings)) {
    return;
  }
  const std::vector<SampleMeasurement>& measurements = recording.measurements;
  for (std::size_t i = 0; i < measurements.size(); ++i) {
    onCode(i, VelmoraDecide(detector.context(), &measurements[i]));
  }
  detector.close();
}

}  // namespace

std::size_t RecordingCache::bytes() const {
  std::size_t total = 0;
  for (const CachedRecording& recording : recordings) {
    total += recording.measurements.capacity() * sizeof(SampleMeasurement) +
             recording.loaded.positions.capacity() * sizeof(int64_t);
  }
  return total;
}

RecordingCache loadCache(const std::vector<RecordingEntry>& entries, int jobs,
                         const std::function<void(std::size_t)>& onProgress) {
  RecordingCache cache;
  cache.recordings.resize(entries.size());
  // Each recording is read, measured, and its raw samples let go, one at a
  // time per worker, so that the raw and the measured copies of the whole
  // dataset are never in memory together.
  velmora::evaluation::parallelFor(
      entries.size(), jobs,
      [&](std::size_t index) {
        CachedRecording& cached = cache.recordings[index];
        cached.loaded = velmora::evaluation::loadRecording(entries[index]);
        cached.name = std::filesystem::path(cached.loaded.path).filename().string();
        cached.measurements = measure(cached.loaded);
        std::string ignored;  // an unreadable file is reported by loadRecording
        cached.fileFingerprint =
            velmora::evaluation::fingerprintFile(entries[index].path, ignored);
        cached.loaded.samples.clear();
        cached.loaded.samples.shrink_to_fit();
      },
      onProgress);
  Digest digest;
  for (const CachedRecording& cached : cache.recordings) {
    const LoadedRecording& recording = cached.loaded;
    // The digest names the data by file name and content, not by where it
    // lies, so that machines mounting it elsewhere agree.
    digest.add(cached.name);
    digest.add(int64_t{recording.isFall} + 2 * int64_t{recording.readable()});
    digest.add(int64_t{recording.fallPosition});
    digest.add(recording.dataLines);
    for (std::size_t i = 0; i < cached.measurements.size(); ++i) {
      const SampleRecord& s = cached.measurements[i].sample;
      digest.add(recording.positionOf(i));
      for (const int16_t value : {s.ax, s.ay, s.az, s.gx, s.gy, s.gz}) {
        digest.add(int64_t{value});
      }
    }
    cache.samples += static_cast<int64_t>(cached.measurements.size());
  }
  cache.fingerprint = digest.value();
  return cache;
}

DetectionTally replayCached(const CachedRecording& recording, const DetectorSettings& settings) {
  DetectionTally tally;
  decideRecording(recording, settings, [&](std::size_t index, int32_t code) {
    tally.add(recording.loaded.positionOf(index), code);
  });
  return tally;
}

std::vector<int32_t> replayCachedCodes(const CachedRecording& recording,
                                       const DetectorSettings& settings) {
  std::vector<int32_t> codes;
  decideRecording(recording, settings, [&](std::size_t, int32_t code) { codes.push_back(code); });
  return codes;
}

std::vector<std::vector<DetectionTally>> evaluateCandidates(
    const RecordingCache& cache, const std::vector<std::size_t>& subset,
    const std::vector<DetectorSettings>& candidates, int jobs) {
  std::vector<std::vector<DetectionTally>> tallies(candidates.size(),
                                                   std::vector<DetectionTally>(subset.size()));
  // One work item is one recording under every candidate: its samples stay
  // in the processor's caches while the candidates run over them.
  velmora::evaluation::parallelFor(subset.size(), jobs,
                                   [&](std::size_t i) {
                                     const CachedRecording& recording = cache.recordings[subset[i]];
                                     for (std::size_t c = 0; c < candidates.size(); ++c) {
                                       tallies[c][i] = replayCached(recording, candidates[c]);
                                     }
                                   },
                                   {});
  return tallies;
}

std::vector<RecordingResult> judgeTallies(const RecordingCache& cache,
                                          const std::vector<std::size_t>& subset,
                                          const std::vector<DetectionTally>& tallies,
                                          int64_t toleranceSamples) {
  std::vector<RecordingResult> results;
  results.reserve(subset.size());
  for (std::size_t i = 0; i < subset.size(); ++i) {
    results.push_back(velmora::evaluation::judgeRecording(cache.recordings[subset[i]].loaded,
                                                          tallies[i], toleranceSamples));
  }
  return results;
}

}  // namespace tune
