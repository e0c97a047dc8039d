#include "RecordingCache.h"

#include <filesystem>
#include <memory>

#include "Digest.h"
#include "Evaluation.h"

namespace tune {

std::size_t RecordingCache::bytes() const {
  std::size_t total = 0;
  for (const CachedRecording& recording : recordings) {
    total += recording.loaded.samples.capacity() * sizeof(SampleRecord) +
             recording.loaded.positions.capacity() * sizeof(int64_t);
  }
  return total;
}

RecordingCache loadCache(const std::vector<RecordingEntry>& entries, int jobs,
                         const std::function<void(std::size_t)>& onProgress) {
  RecordingCache cache;
  std::vector<LoadedRecording> loaded =
      velmora::evaluation::loadRecordings(entries, jobs, onProgress);
  Digest digest;
  for (LoadedRecording& recording : loaded) {
    CachedRecording cached;
    cached.name = std::filesystem::path(recording.path).filename().string();
    // The digest names the data by file name and content, not by where it
    // lies, so that machines mounting it elsewhere agree.
    digest.add(cached.name);
    digest.add(int64_t{recording.isFall} + 2 * int64_t{recording.readable()});
    digest.add(int64_t{recording.fallPosition});
    digest.add(recording.dataLines);
    for (std::size_t i = 0; i < recording.samples.size(); ++i) {
      const SampleRecord& s = recording.samples[i];
      digest.add(recording.positionOf(i));
      for (const int16_t value : {s.ax, s.ay, s.az, s.gx, s.gy, s.gz}) {
        digest.add(int64_t{value});
      }
    }
    cache.samples += static_cast<int64_t>(recording.samples.size());
    cached.loaded = std::move(recording);
    cache.recordings.push_back(std::move(cached));
  }
  cache.fingerprint = digest.value();
  return cache;
}

DetectionTally replayCached(const CachedRecording& recording, const DetectorSettings& settings) {
  DetectionTally tally;
  const LoadedRecording& loaded = recording.loaded;
  if (!loaded.readable()) {
    return tally;
  }
  // The context is large; keep it off small thread stacks.
  const auto context = std::make_unique<DetectorContext>();
  if (VelmoraSet(context.get(), &settings) < 0) {
    return tally;
  }
  for (std::size_t index = 0; index < loaded.samples.size(); ++index) {
    tally.add(loaded.positionOf(index), VelmoraProcess(context.get(), &loaded.samples[index]));
  }
  VelmoraClose(context.get());
  return tally;
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
