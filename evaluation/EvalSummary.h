// Dataset-level figures of an evaluation: outcome counts, rates, false
// alarms per hour of daily-living data, detection delays and the codes of
// first detections, overall or per group of recordings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EvalIntervals.h"
#include "EvalJudge.h"

namespace velmora::evaluation {

struct CodeCount {
  int32_t code = 0;
  int64_t fallRecordings = 0;         // first detections in fall recordings (tp and early)
  int64_t dailyLivingRecordings = 0;  // first detections in daily-living recordings
};

// The nine integer figures of an evaluation; every rate derives from them.
// The tuner adds them up over folds, people and part files.
struct OutcomeCounts {
  int64_t recordings = 0;  // all, unreadable ones included
  int64_t unreadable = 0;
  int64_t truePositives = 0;
  int64_t missed = 0;
  int64_t earlyAlarms = 0;
  int64_t falseAlarms = 0;  // daily-living recordings with a detection
  int64_t trueNegatives = 0;
  int64_t dailyLivingSamples = 0;
  int64_t dailyLivingAlarms = 0;  // alarms (runs of positive results) in daily-living data

  [[nodiscard]] int64_t fallRecordings() const { return truePositives + missed + earlyAlarms; }
  [[nodiscard]] int64_t dailyLivingRecordings() const { return falseAlarms + trueNegatives; }
  // Early alarms are misses and false alarms at once.
  [[nodiscard]] int64_t allFalseAlarms() const { return falseAlarms + earlyAlarms; }
  // Each fraction is empty when its denominator is zero.
  [[nodiscard]] std::optional<double> sensitivity() const;  // tp / fall recordings
  [[nodiscard]] std::optional<double> specificity() const;  // tn / daily-living recordings
  [[nodiscard]] std::optional<double> accuracy() const;     // (tp + tn) / readable recordings
  [[nodiscard]] double dailyLivingHours() const;
  [[nodiscard]] std::optional<double> falseAlarmsPerHour() const;
  // 95 % intervals: Wilson score for the two proportions, exact Poisson
  // (Garwood) for the rate; empty when the figure itself is.
  [[nodiscard]] std::optional<Interval> sensitivityInterval() const;
  [[nodiscard]] std::optional<Interval> specificityInterval() const;
  [[nodiscard]] std::optional<Interval> falseAlarmsPerHourInterval() const;

  OutcomeCounts& operator+=(const OutcomeCounts& other);
  bool operator==(const OutcomeCounts&) const = default;
};

// The counts with the delays of the true positives and the codes of first
// detections.
struct EvalSummary : OutcomeCounts {
  EvalSummary() = default;
  // A summary of counts alone (no delays, no first codes).
  explicit EvalSummary(const OutcomeCounts& counts) : OutcomeCounts(counts) {}

  std::vector<int64_t> delaysMs;      // of true positives, ascending
  std::vector<CodeCount> firstCodes;  // ascending by code
  // Recordings the settings were tuned on; empty when the settings name no
  // recordings (see RecordingResult::inSample).
  std::optional<int64_t> inSampleRecordings;

  // Nearest-rank percentile of the delays: the value at rank ceil(p/100 * n)
  // of the ascending list, so the median (p = 50) of an even count is the
  // lower middle value. Empty without true positives.
  [[nodiscard]] std::optional<int64_t> delayPercentileMs(int percent) const;
};

struct GroupSummary {
  std::string group;
  EvalSummary summary;
};

[[nodiscard]] EvalSummary summarise(const std::vector<RecordingResult>& results);

// One summary per distinct RecordingResult::group, in ascending group order
// with the recordings the pattern did not match (empty group) last.
[[nodiscard]] std::vector<GroupSummary> summariseGroups(
    const std::vector<RecordingResult>& results);

}  // namespace velmora::evaluation
