#include "Evaluation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "SettingsTable.h"

namespace velmora::evaluation {

EvaluationOptions defaultEvaluationOptions() {
  EvaluationOptions options;
  VelmoraDefaultSettings(&options.settings);
  return options;
}

void parallelFor(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t)>& onProgress) {
  if (count == 0) {
    return;
  }
  std::atomic<std::size_t> nextIndex{0};
  std::size_t done = 0;
  std::mutex doneMutex;
  std::condition_variable doneChanged;

  // Each worker takes the next index not yet claimed.
  const auto worker = [&] {
    for (;;) {
      const std::size_t index = nextIndex.fetch_add(1);
      if (index >= count) {
        return;
      }
      work(index);
      {
        const std::lock_guard lock(doneMutex);
        ++done;
      }
      doneChanged.notify_one();
    }
  };

  if (jobs <= 0) {
    jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  }
  const std::size_t workerCount = std::clamp<std::size_t>(static_cast<std::size_t>(jobs), 1, count);
  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  for (std::size_t i = 0; i < workerCount; ++i) {
    try {
      workers.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // the system refused another thread: go on with those we have
    }
  }
  if (workers.empty()) {
    worker();
  }
  {
    std::unique_lock lock(doneMutex);
    while (done < count) {
      doneChanged.wait_for(lock, std::chrono::milliseconds(200));
      if (onProgress) {
        const std::size_t doneNow = done;
        lock.unlock();
        onProgress(doneNow);
        lock.lock();
      }
    }
  }
  for (std::thread& thread : workers) {
    thread.join();
  }
}

std::vector<LoadedRecording> loadRecordings(const std::vector<RecordingEntry>& recordings, int jobs,
                                            const std::function<void(std::size_t)>& onProgress) {
  std::vector<LoadedRecording> loaded(recordings.size());
  parallelFor(
      recordings.size(), jobs,
      [&](std::size_t index) {
        try {
          loaded[index] = loadRecording(recordings[index]);
        } catch (const std::exception& error) {
          loaded[index] = LoadedRecording{};
          loaded[index].path = recordings[index].path;
          loaded[index].problem = std::string("cannot load recording: ") + error.what();
        }
      },
      onProgress);
  return loaded;
}

std::vector<RecordingResult> evaluateAll(const std::vector<RecordingEntry>& recordings,
                                         const DetectorSettings& settings, int64_t toleranceSamples,
                                         int jobs,
                                         const std::function<void(std::size_t)>& onProgress,
                                         bool keepAlarms) {
  std::vector<RecordingResult> results(recordings.size());
  parallelFor(
      recordings.size(), jobs,
      [&](std::size_t index) {
        try {
          results[index] =
              replayAndJudge(recordings[index], settings, toleranceSamples, keepAlarms);
        } catch (const std::exception& error) {
          results[index] = unreadableResult(recordings[index].path,
                                            std::string("replay failed: ") + error.what());
        }
      },
      onProgress);
  return results;
}

std::vector<GroupKey> groupKeysOf(const EvaluationOptions& options) {
  std::vector<GroupKey> keys;
  if (!options.groupPattern.empty()) {
    keys.push_back({GroupKey::Kind::Pattern, options.groupPattern});
  }
  keys.insert(keys.end(), options.groupKeys.begin(), options.groupKeys.end());
  return keys;
}

std::string evaluate(const std::vector<RecordingEntry>& recordings,
                     const EvaluationOptions& options, Evaluation& evaluation) {
  if (std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return error;
  }
  // Groups depend on the names alone: a bad key costs no replay.
  std::vector<GroupKey> keys = groupKeysOf(options);
  GroupNames names;
  if (!keys.empty()) {
    names = nameGroups(recordings, keys);
    if (!names.error.empty()) {
      return names.error;
    }
  }
  evaluation = Evaluation{};
  evaluation.settings = options.settings;
  evaluation.toleranceSeconds = options.toleranceSeconds;
  evaluation.toleranceSamples = toleranceSamples(options.toleranceSeconds);
  evaluation.groupKeys = std::move(keys);
  evaluation.alarmsKept = options.keepAlarms;
  evaluation.provenance = options.provenance;
  evaluation.results = evaluateAll(recordings, options.settings, evaluation.toleranceSamples,
                                   options.jobs, options.onProgress, options.keepAlarms);
  if (options.provenance.knowsTuning()) {
    parallelFor(
        recordings.size(), options.jobs,
        [&](std::size_t index) {
          std::string error;
          const std::string fingerprint = fingerprintFile(recordings[index].path, error);
          if (!fingerprint.empty()) {
            evaluation.results[index].inSample =
                options.provenance.tunedOnFingerprint(fingerprint);
          }
        },
        {});
  }
  if (evaluation.grouped()) {
    for (std::size_t i = 0; i < evaluation.results.size(); ++i) {
      evaluation.results[i].group = names.groups[i];
    }
    evaluation.groups = summariseGroups(evaluation.results);
  }
  evaluation.overall = summarise(evaluation.results);
  return {};
}

std::string evaluatePaths(const std::vector<std::string>& paths, const EvaluationOptions& options,
                          Evaluation& evaluation) {
  if (paths.empty()) {
    return "no recordings or folders given";
  }
  const RecordingSearch search = findRecordings(paths, ".csv");
  if (!search.error.empty()) {
    return search.error;
  }
  return evaluate(search.recordings, options, evaluation);
}

}  // namespace velmora::evaluation
