#include "EvalJudge.h"

#include <algorithm>
#include <cmath>

#include "DetectorSession.h"
#include "InfoFile.h"

#include "RecordingReplay.h"

namespace velmora::evaluation {

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

int64_t toleranceSamples(double toleranceSeconds) {
  return static_cast<int64_t>(std::llround(toleranceSeconds * kVelmoraSamplesPerSecond));
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

std::optional<int64_t> detectionDelayMs(const RecordingResult& result) {
  if (!result.isFall || !result.firstIndex || result.outcome == Outcome::Unreadable) {
    return std::nullopt;
  }
  return VelmoraDetectionDelayMs(*result.firstIndex, result.fallPosition);
}

RecordingResult unreadableResult(const std::string& path, std::string problem) {
  RecordingResult result;
  result.path = path;
  result.problem = std::move(problem);
  return result;
}

RecordingResult judgeRecording(const LoadedRecording& recording, const DetectionTally& tally,
                               int64_t toleranceSamples) {
  if (!recording.readable()) {
    RecordingResult result = unreadableResult(recording.path, recording.problem);
    result.isFall = recording.isFall;
    return result;
  }
  RecordingResult result;
  result.path = recording.path;
  result.isFall = recording.isFall;
  result.fallPosition = recording.fallPosition;
  result.samples = recording.dataLines;
  result.shortLines = recording.shortLines;
  result.detections = tally.detections();
  result.alarms = tally.alarms();
  result.firstIndex = tally.firstIndex();
  result.firstCode = tally.firstCode();
  result.problem = recording.shortLineNotice;
  result.alarmRuns = tally.runs();
  result.outcome =
      classifyOutcome(result.isFall, result.firstIndex, result.fallPosition, toleranceSamples);
  return result;
}

RecordingResult judgeCodes(const LoadedRecording& recording, std::span<const int32_t> codes,
                           int64_t toleranceSamples) {
  DetectionTally tally;
  const std::size_t count = std::min(codes.size(), recording.samples.size());
  for (std::size_t index = 0; index < count; ++index) {
    tally.add(recording.positionOf(index), codes[index]);
  }
  return judgeRecording(recording, tally, toleranceSamples);
}

bool alarmInFallWindow(const RecordingResult& result, const AlarmRun& run,
                       int64_t toleranceSamples) {
  return run.position >= result.fallPosition - toleranceSamples;
}

RecordingResult evaluateRecording(const LoadedRecording& recording,
                                  const DetectorSettings& settings, int64_t toleranceSamples,
                                  bool keepAlarms) {
  DetectionTally tally(keepAlarms);
  if (recording.readable()) {
    DetectorSession detector;
    if (!detector.open(settings)) {
      return unreadableResult(recording.path, "the detector refused the settings");
    }
    for (std::size_t index = 0; index < recording.samples.size(); ++index) {
      tally.add(recording.positionOf(index),
                VelmoraProcess(detector.context(), &recording.samples[index]));
    }
  }
  return judgeRecording(recording, tally, toleranceSamples);
}

RecordingResult replayAndJudge(const RecordingEntry& entry, const DetectorSettings& settings,
                               int64_t toleranceSamples, bool keepAlarms) {
  // The recording's annotation and counts, without its samples.
  LoadedRecording recording;
  recording.path = entry.path;
  recording.infoPath = entry.infoPath;
  recording.isFall = !entry.infoPath.empty();
  if (recording.isFall) {
    InfoAnnotation annotation = readInfoFileStrict(entry.infoPath);
    if (!annotation.problem.empty()) {
      RecordingResult result = unreadableResult(entry.path, std::move(annotation.problem));
      result.isFall = true;
      return result;
    }
    recording.fallPosition = annotation.fallPosition;
  }
  DetectionTally tally(keepAlarms);
  const ReplaySummary summary = replayRecording(
      entry.path.c_str(), settings, nullptr,
      [&tally](const ReplayedSample& replayed) { tally.add(replayed.position, replayed.code); },
      true);
  if (summary.settingsRefused) {
    return unreadableResult(entry.path, "the detector refused the settings");
  }
  if (!summary.opened) {
    recording.problem = openProblem(entry.path);
  } else if (recording.isFall) {
    recording.problem =
        checkFallPosition(entry.infoPath, recording.fallPosition, summary.dataLines);
  }
  recording.dataLines = summary.dataLines;
  recording.shortLines = summary.shortLines;
  recording.shortLineNotice = summary.shortLineNotice;
  return judgeRecording(recording, tally, toleranceSamples);
}

}  // namespace velmora::evaluation
