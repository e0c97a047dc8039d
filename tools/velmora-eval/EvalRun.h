// Replaying recordings for an evaluation and judging each one against its
// annotation, on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "RecordingSet.h"
#include "Velmora.h"

inline constexpr int64_t kSamplesPerSecond = 50;
inline constexpr int64_t kSamplePeriodMs = 20;

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

struct RecordingResult {
  std::string path;
  std::string group;  // filled in by the caller when grouping
  bool isFall = false;
  int32_t fallPosition = 0;  // annotated sample index, for fall recordings
  int64_t samples = 0;       // data lines: positions, short lines included
  int64_t shortLines = 0;
  int64_t detections = 0;             // samples with a positive result
  int64_t alarms = 0;                 // runs of consecutive samples with a positive result
  std::optional<int64_t> firstIndex;  // position of the first positive result
  int32_t firstCode = 0;
  Outcome outcome = Outcome::Unreadable;
  std::string problem;  // why the recording is unreadable, or the short-line notice
};

// Delay of the first detection after the annotated position, in ms; empty
// for daily-living recordings and recordings without a detection.
[[nodiscard]] std::optional<int64_t> detectionDelayMs(const RecordingResult& result);

[[nodiscard]] Outcome classifyOutcome(bool isFall, std::optional<int64_t> firstIndex,
                                      int64_t fallPosition, int64_t toleranceSamples);

// Replays one recording on its own detector context.
[[nodiscard]] RecordingResult evaluateRecording(const RecordingEntry& entry,
                                                const DetectorSettings& settings,
                                                int64_t toleranceSamples);

// Evaluates every recording on `jobs` worker threads; results come back in
// the order of `recordings` whatever the number of workers. `onProgress`
// (may be empty) is called on the calling thread a few times a second and
// once at the end with the number of recordings done.
[[nodiscard]] std::vector<RecordingResult> evaluateAll(
    const std::vector<RecordingEntry>& recordings, const DetectorSettings& settings,
    int64_t toleranceSamples, int jobs, const std::function<void(std::size_t)>& onProgress);
