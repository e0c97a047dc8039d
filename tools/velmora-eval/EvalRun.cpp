#include "EvalRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "InfoFile.h"
#include "ToolSupport.h"

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::TruePositive:
      return "tp";
    case Outcome::Missed:
      return "missed";
    case Outcome::EarlyAlarm:
      return "early";
    case Outcome::FalseAlarm:
      return "false_alarm";
    case Outcome::TrueNegative:
      return "tn";
    case Outcome::Unreadable:
      break;
  }
  return "error";
}

std::optional<int64_t> detectionDelayMs(const RecordingResult& result) {
  if (!result.isFall || !result.firstIndex || result.outcome == Outcome::Unreadable) {
    return std::nullopt;
  }
  return (*result.firstIndex - result.fallPosition) * kSamplePeriodMs;
}

Outcome classifyOutcome(bool isFall, std::optional<int64_t> firstIndex, int64_t fallPosition,
                        int64_t toleranceSamples) {
  if (!isFall) {
    return firstIndex ? Outcome::FalseAlarm : Outcome::TrueNegative;
  }
  if (!firstIndex) {
    return Outcome::Missed;
  }
  return *firstIndex < fallPosition - toleranceSamples ? Outcome::EarlyAlarm
                                                       : Outcome::TruePositive;
}

RecordingResult evaluateRecording(const RecordingEntry& entry, const DetectorSettings& settings,
                                  int64_t toleranceSamples) {
  RecordingResult result;
  result.path = entry.path;
  result.isFall = !entry.infoPath.empty();
  if (result.isFall) {
    int32_t fallFlag = 0;  // only asks Drovik for its delay message; unused here
    const int32_t status = ReadInfoFile(entry.infoPath.c_str(), &result.fallPosition, &fallFlag);
    if (status != 0) {
      // Drovik would carry on with position 0, which would judge the
      // recording against a position nobody annotated.
      result.problem =
          "info file '" + entry.infoPath + "' " +
          (status == -1 ? "cannot be read" : "does not hold three fields on its first line");
      return result;
    }
  }
  bool previousPositive = false;
  const ReplaySummary replay =
      replayWithSettings(entry.path, settings, [&](const ReplayedSample& sample) {
        const bool positive = sample.code > 0;
        if (positive) {
          ++result.detections;
          if (!previousPositive) {
            ++result.alarms;
          }
          if (!result.firstIndex) {
            result.firstIndex = sample.position;
            result.firstCode = sample.code;
          }
        }
        previousPositive = positive;
      });
  if (!replay.opened) {
    result.problem = "cannot open recording (missing, unreadable or a folder)";
    result.firstIndex.reset();
    return result;
  }
  result.samples = replay.dataLines;
  result.shortLines = replay.shortLines;
  result.problem = replay.shortLineNotice;
  result.outcome =
      classifyOutcome(result.isFall, result.firstIndex, result.fallPosition, toleranceSamples);
  return result;
}

std::vector<RecordingResult> evaluateAll(const std::vector<RecordingEntry>& recordings,
                                         const DetectorSettings& settings, int64_t toleranceSamples,
                                         int jobs,
                                         const std::function<void(std::size_t)>& onProgress) {
  std::vector<RecordingResult> results(recordings.size());
  if (recordings.empty()) {
    return results;
  }
  std::atomic<std::size_t> nextIndex{0};
  std::size_t done = 0;
  std::mutex doneMutex;
  std::condition_variable doneChanged;

  // Each worker takes the next recording not yet claimed and writes only
  // that recording's slot, so the order of the results is fixed.
  const auto work = [&] {
    for (;;) {
      const std::size_t index = nextIndex.fetch_add(1);
      if (index >= recordings.size()) {
        return;
      }
      try {
        results[index] = evaluateRecording(recordings[index], settings, toleranceSamples);
      } catch (const std::exception& error) {
        results[index] = RecordingResult{};
        results[index].path = recordings[index].path;
        results[index].problem = std::string("replay failed: ") + error.what();
      }
      {
        const std::lock_guard lock(doneMutex);
        ++done;
      }
      doneChanged.notify_one();
    }
  };

  const std::size_t workerCount =
      std::clamp<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), 1, recordings.size());
  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  for (std::size_t i = 0; i < workerCount; ++i) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the system refused another thread: go on with those we have
    }
  }
  if (workers.empty()) {
    work();
  }
  {
    std::unique_lock lock(doneMutex);
    while (done < recordings.size()) {
      doneChanged.wait_for(lock, std::chrono::milliseconds(200));
      if (onProgress) {
        const std::size_t doneNow = done;
        lock.unlock();
        onProgress(doneNow);
        lock.lock();
      }
    }
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  return results;
}
