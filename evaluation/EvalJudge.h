// Judging a recording: the outcome rules that turn the detector's result
// codes and the annotation into tp, missed, early, false_alarm or tn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "EvalRecordings.h"
#include "Velmora.h"

namespace velmora::evaluation {

enum class Outcome {
  TruePositive,  // fall recording, first detection no earlier than position - tolerance
  Missed,        // fall recording without any detection
  EarlyAlarm,    // fall recording detected too early: a miss and a false alarm
  FalseAlarm,    // daily-living recording with a detection
  TrueNegative,  // daily-living recording without one
  Unreadable,    // recording or info file could not be read; not counted
};

// "tp", "missed", "early", "false_alarm", "tn", "error".
[[nodiscard]] const char* outcomeName(Outcome outcome);

// The early tolerance in whole samples (seconds x 50, rounded).
[[nodiscard]] int64_t toleranceSamples(double toleranceSeconds);

[[nodiscard]] Outcome classifyOutcome(bool isFall, std::optional<int64_t> firstIndex,
                                      int64_t fallPosition, int64_t toleranceSamples);

// One alarm: a run of consecutive samples with a positive result.
struct AlarmRun {
  int64_t position = 0;  // data-line position of its first sample
  int64_t length = 0;    // samples in the run
  int32_t code = 0;      // result code of its first sample
};

// What the detector said over one recording, gathered sample by sample.
class DetectionTally {
 public:
  // With `keepRuns`, every alarm is kept (see runs()); otherwise only counted.
  explicit DetectionTally(bool keepRuns = false) : keepRuns_(keepRuns) {}

  // One sample that reached the detector, at data-line `position`. Returns
  // true when the sample starts an alarm (the first of a run), the moment a
  // live runner reports it; memory stays constant without `keepRuns`.
  bool add(int64_t position, int32_t code) {
    const bool positive = code > 0;
    const bool starts = positive && !previousPositive_;
    if (positive) {
      ++detections_;
      if (starts) {
        ++alarms_;
        if (keepRuns_) {
          runs_.push_back(AlarmRun{position, 0, code});
        }
      }
      if (keepRuns_) {
        ++runs_.back().length;
      }
      if (!firstIndex_) {
        firstIndex_ = position;
        firstCode_ = code;
      }
    }
    previousPositive_ = positive;
    return starts;
  }

  [[nodiscard]] int64_t detections() const { return detections_; }
  [[nodiscard]] int64_t alarms() const { return alarms_; }
  [[nodiscard]] std::optional<int64_t> firstIndex() const { return firstIndex_; }
  [[nodiscard]] int32_t firstCode() const { return firstCode_; }
  [[nodiscard]] const std::vector<AlarmRun>& runs() const { return runs_; }

 private:
  bool keepRuns_ = false;
  std::vector<AlarmRun> runs_;
  int64_t detections_ = 0;
  int64_t alarms_ = 0;  // runs of consecutive samples with a positive result
  std::optional<int64_t> firstIndex_;
  int32_t firstCode_ = 0;
  bool previousPositive_ = false;
};

struct RecordingResult {
  std::string path;
  std::string group;  // filled in when grouping; empty: no group
  bool isFall = false;
  int32_t fallPosition = 0;  // annotated sample index, for fall recordings
  int64_t samples = 0;       // data lines: positions, short lines included
  int64_t shortLines = 0;
  int64_t detections = 0;             // samples with a positive result
  int64_t alarms = 0;                 // runs of consecutive samples with a positive result
  std::optional<int64_t> firstIndex;  // position of the first positive result
  int32_t firstCode = 0;
  Outcome outcome = Outcome::Unreadable;
  std::string problem;              // why the recording is unreadable, or the short-line notice
  std::vector<AlarmRun> alarmRuns;  // every alarm, when they were asked for
  // Whether the settings were tuned on this recording (its fingerprint is
  // among theirs); empty when the settings name no recordings or the file
  // could not be fingerprinted.
  std::optional<bool> inSample;
};

// Whether an alarm of a fall recording starts no earlier than the annotated
// position minus the tolerance (the window a detection counts in).
[[nodiscard]] bool alarmInFallWindow(const RecordingResult& result, const AlarmRun& run,
                                     int64_t toleranceSamples);

// Delay of the first detection after the annotated position, in ms; empty
// for daily-living recordings and recordings without a detection.
[[nodiscard]] std::optional<int64_t> detectionDelayMs(const RecordingResult& result);

// The result of a recording from its tally.
[[nodiscard]] RecordingResult judgeRecording(const LoadedRecording& recording,
                                             const DetectionTally& tally, int64_t toleranceSamples);

// The result of a recording from one result code per sample of
// `recording.samples` (a caller that runs the detector itself).
[[nodiscard]] RecordingResult judgeCodes(const LoadedRecording& recording,
                                         std::span<const int32_t> codes, int64_t toleranceSamples);

// Replays the recording on a fresh detector context, as Drovik does, and
// judges it. The settings must pass VelmoraCheckSettings().
[[nodiscard]] RecordingResult evaluateRecording(const LoadedRecording& recording,
                                                const DetectorSettings& settings,
                                                int64_t toleranceSamples, bool keepAlarms = false);

// Replays the recording from its file on a fresh detector context, judging
// it sample by sample: the same result as evaluateRecording(loadRecording(
// entry), ...), without holding the samples. The settings must pass
// VelmoraCheckSettings().
[[nodiscard]] RecordingResult replayAndJudge(const RecordingEntry& entry,
                                             const DetectorSettings& settings,
                                             int64_t toleranceSamples, bool keepAlarms = false);

// The unreadable result of a recording, with the reason.
[[nodiscard]] RecordingResult unreadableResult(const std::string& path, std::string problem);

}  // namespace velmora::evaluation
