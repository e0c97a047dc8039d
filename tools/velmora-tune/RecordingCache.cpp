#include "RecordingCache.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "Digest.h"
#include "InfoFile.h"
#include "RecordingReader.h"

namespace {

// Runs `work(i)` for i in 0..count-1 on up to `jobs` threads.
void runParallel(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t)>& onDone = {}) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  const auto worker = [&] {
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= count || failed.load()) {
        return;
      }
      try {
        work(index);
      } catch (...) {
        if (!failed.exchange(true)) {
          failure = std::current_exception();
        }
        return;
      }
      done.fetch_add(1);
    }
  };
  const std::size_t workerCount = std::clamp<std::size_t>(
      static_cast<std::size_t>(std::max(jobs, 1)), 1, std::max<std::size_t>(count, 1));
  // With a progress report the calling thread only watches; otherwise it
  // works as one of the workers.
  const std::size_t spawn = onDone ? workerCount : workerCount - 1;
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < spawn; ++i) {
    try {
      threads.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // go on with the threads we have
    }
  }
  if (onDone && !threads.empty()) {
    while (done.load() < count && !failed.load()) {
      onDone(done.load());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } else {
    worker();
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  if (onDone) {
    onDone(count);
  }
}

CachedRecording readRecording(const RecordingEntry& entry) {
  CachedRecording recording;
  recording.entry = entry;
  recording.name = std::filesystem::path(entry.path).filename().string();
  recording.isFall = !entry.infoPath.empty();
  if (recording.isFall) {
    int32_t fallFlag = 0;
    const int32_t status = ReadInfoFile(entry.infoPath.c_str(), &recording.fallPosition, &fallFlag);
    if (status != 0) {
      recording.problem =
          "info file '" + entry.infoPath + "' " +
          (status == -1 ? "cannot be read" : "does not hold three fields on its first line");
      return recording;
    }
  }
  RecordingReader reader;
  if (!reader.open(entry.path.c_str())) {
    recording.problem = "cannot open recording (missing, unreadable or a folder)";
    return recording;
  }
  recording.readable = true;
  reader.skipHeader();
  SampleRecord sample{};
  int64_t position = 0;
  for (;;) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample) {
      recording.samples.push_back(CachedSample{sample});
    } else {
      recording.shortPositions.push_back(position);
    }
    ++position;
  }
  recording.samples.shrink_to_fit();
  recording.dataLines = reader.dataLines();
  recording.shortLines = reader.shortLines();
  recording.problem = describeShortLines(reader);
  return recording;
}

}  // namespace

std::size_t RecordingCache::bytes() const {
  std::size_t total = 0;
  for (const CachedRecording& recording : recordings) {
    total += recording.samples.capacity() * sizeof(CachedSample) +
             recording.shortPositions.capacity() * sizeof(int64_t);
  }
  return total;
}

RecordingCache loadRecordings(const std::vector<RecordingEntry>& entries, int jobs,
                              const std::function<void(std::size_t)>& onProgress) {
  RecordingCache cache;
  cache.recordings.resize(entries.size());
  runParallel(
      entries.size(), jobs,
      [&](std::size_t index) { cache.recordings[index] = readRecording(entries[index]); },
      onProgress);
  Digest digest;
  for (const CachedRecording& recording : cache.recordings) {
    digest.add(recording.name);
    digest.add(int64_t{recording.isFall} + 2 * int64_t{recording.readable});
    digest.add(int64_t{recording.fallPosition});
    digest.add(recording.dataLines);
    for (const int64_t position : recording.shortPositions) {
      digest.add(position);
    }
    for (const CachedSample& sample : recording.samples) {
      for (const int16_t value : {sample.raw.ax, sample.raw.ay, sample.raw.az, sample.raw.gx,
                                  sample.raw.gy, sample.raw.gz}) {
        digest.add(int64_t{value});
      }
    }
    cache.samples += static_cast<int64_t>(recording.samples.size());
  }
  cache.fingerprint = digest.value();
  return cache;
}

CandidateOutcome replayCached(const CachedRecording& recording, const DetectorSettings& settings) {
  CandidateOutcome outcome;
  // The context is large; keep it off small thread stacks.
  const auto context = std::make_unique<DetectorContext>();
  if (VelmoraSet(context.get(), &settings) < 0) {
    return outcome;
  }
  const std::vector<int64_t>& shortPositions = recording.shortPositions;
  std::size_t shortSeen = 0;
  int64_t position = 0;
  bool previousPositive = false;
  for (const CachedSample& sample : recording.samples) {
    while (shortSeen < shortPositions.size() && shortPositions[shortSeen] == position) {
      ++shortSeen;
      ++position;
    }
    const int32_t code = VelmoraProcess(context.get(), &sample.raw);
    if (code > 0) {
      ++outcome.detections;
      if (!previousPositive) {
        ++outcome.alarms;
      }
      if (outcome.firstIndex < 0) {
        outcome.firstIndex = position;
        outcome.firstCode = code;
      }
    }
    previousPositive = code > 0;
    ++position;
  }
  VelmoraClose(context.get());
  return outcome;
}

RecordingResult toResult(const CachedRecording& recording, const CandidateOutcome& outcome,
                         int64_t toleranceSamples, bool withPath) {
  RecordingResult result;
  if (withPath) {
    result.path = recording.entry.path;
    result.problem = recording.problem;
  }
  result.isFall = recording.isFall;
  result.fallPosition = recording.fallPosition;
  if (!recording.readable) {
    return result;
  }
  result.samples = recording.dataLines;
  result.shortLines = recording.shortLines;
  result.detections = outcome.detections;
  result.alarms = outcome.alarms;
  if (outcome.firstIndex >= 0) {
    result.firstIndex = outcome.firstIndex;
    result.firstCode = outcome.firstCode;
  }
  result.outcome =
      classifyOutcome(result.isFall, result.firstIndex, result.fallPosition, toleranceSamples);
  return result;
}

std::vector<std::vector<CandidateOutcome>> evaluateCandidates(
    const RecordingCache& cache, const std::vector<std::size_t>& subset,
    const std::vector<DetectorSettings>& candidates, int jobs) {
  std::vector<std::vector<CandidateOutcome>> outcomes(candidates.size(),
                                                      std::vector<CandidateOutcome>(subset.size()));
  // One work item is one recording under every candidate: its samples stay
  // in the processor's caches while the candidates run over them.
  runParallel(subset.size(), jobs, [&](std::size_t i) {
    const CachedRecording& recording = cache.recordings[subset[i]];
    if (!recording.readable) {
      return;
    }
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      outcomes[c][i] = replayCached(recording, candidates[c]);
    }
  });
  return outcomes;
}

EvalSummary summariseOutcomes(const RecordingCache& cache, const std::vector<std::size_t>& subset,
                              const std::vector<CandidateOutcome>& outcomes,
                              int64_t toleranceSamples) {
  std::vector<RecordingResult> results;
  results.reserve(subset.size());
  for (std::size_t i = 0; i < subset.size(); ++i) {
    results.push_back(toResult(cache.recordings[subset[i]], outcomes[i], toleranceSamples, false));
  }
  return summarise(results);
}
