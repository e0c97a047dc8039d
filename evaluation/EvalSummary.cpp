#include "EvalSummary.h"

#include <algorithm>
#include <map>

namespace velmora::evaluation {

namespace {

std::optional<double> fraction(int64_t part, int64_t whole) {
  if (whole == 0) {
    return std::nullopt;
  }
  return static_cast<double>(part) / static_cast<double>(whole);
}

void countFirstCode(std::vector<CodeCount>& codes, int32_t code, bool isFall) {
  auto place = std::lower_bound(codes.begin(), codes.end(), code,
                                [](const CodeCount& entry, int32_t c) { return entry.code < c; });
  if (place == codes.end() || place->code != code) {
    place = codes.insert(place, CodeCount{code, 0, 0});
  }
  ++(isFall ? place->fallRecordings : place->dailyLivingRecordings);
}

}  // namespace

std::optional<double> OutcomeCounts::sensitivity() const {
  return fraction(truePositives, fallRecordings());
}

std::optional<double> OutcomeCounts::specificity() const {
  return fraction(trueNegatives, dailyLivingRecordings());
}

std::optional<double> OutcomeCounts::accuracy() const {
  return fraction(truePositives + trueNegatives, fallRecordings() + dailyLivingRecordings());
}

double OutcomeCounts::dailyLivingHours() const {
  return static_cast<double>(dailyLivingSamples) / static_cast<double>(kVelmoraSamplesPerSecond * 3600);
}

std::optional<double> OutcomeCounts::falseAlarmsPerHour() const {
  if (dailyLivingSamples == 0) {
    return std::nullopt;
  }
  return static_cast<double>(dailyLivingAlarms) / dailyLivingHours();
}

std::optional<Interval> OutcomeCounts::sensitivityInterval() const {
  return wilsonInterval(truePositives, fallRecordings());
}

std::optional<Interval> OutcomeCounts::specificityInterval() const {
  return wilsonInterval(trueNegatives, dailyLivingRecordings());
}

std::optional<Interval> OutcomeCounts::falseAlarmsPerHourInterval() const {
  if (dailyLivingSamples == 0) {
    return std::nullopt;
  }
  return poissonRateInterval(dailyLivingAlarms, dailyLivingHours());
}

OutcomeCounts& OutcomeCounts::operator+=(const OutcomeCounts& other) {
  recordings += other.recordings;
  unreadable += other.unreadable;
  truePositives += other.truePositives;
  missed += other.missed;
  earlyAlarms += other.earlyAlarms;
  falseAlarms += other.falseAlarms;
  trueNegatives += other.trueNegatives;
  dailyLivingSamples += other.dailyLivingSamples;
  dailyLivingAlarms += other.dailyLivingAlarms;
  return *this;
}

std::optional<int64_t> EvalSummary::delayPercentileMs(int percent) const {
  if (delaysMs.empty()) {
    return std::nullopt;
  }
  const auto count = static_cast<int64_t>(delaysMs.size());
  const int64_t rank = std::clamp<int64_t>((percent * count + 99) / 100, 1, count);
  return delaysMs[static_cast<std::size_t>(rank - 1)];
}

EvalSummary summarise(const std::vector<RecordingResult>& results) {
  EvalSummary summary;
  for (const RecordingResult& result : results) {
    ++summary.recordings;
    if (result.inSample) {
      summary.inSampleRecordings = summary.inSampleRecordings.value_or(0) + *result.inSample;
    }
    switch (result.outcome) {
      case Outcome::TruePositive:
        ++summary.truePositives;
        summary.delaysMs.push_back(detectionDelayMs(result).value_or(0));
        break;
      case Outcome::Missed:
        ++summary.missed;
        break;
      case Outcome::EarlyAlarm:
        ++summary.earlyAlarms;
        break;
      case Outcome::FalseAlarm:
        ++summary.falseAlarms;
        break;
      case Outcome::TrueNegative:
        ++summary.trueNegatives;
        break;
      case Outcome::Unreadable:
        ++summary.unreadable;
        continue;
    }
    if (!result.isFall) {
      summary.dailyLivingSamples += result.samples;
      summary.dailyLivingAlarms += result.alarms;
    }
    if (result.firstIndex) {
      countFirstCode(summary.firstCodes, result.firstCode, result.isFall);
    }
  }
  std::sort(summary.delaysMs.begin(), summary.delaysMs.end());
  return summary;
}

std::vector<GroupSummary> summariseGroups(const std::vector<RecordingResult>& results) {
  std::map<std::string, std::vector<RecordingResult>> members;
  for (const RecordingResult& result : results) {
    members[result.group].push_back(result);
  }
  std::vector<GroupSummary> groups;
  for (const auto& [group, groupResults] : members) {
    groups.push_back(GroupSummary{group, summarise(groupResults)});
  }
  // The unmatched recordings (empty name, first in the map) go last.
  if (!groups.empty() && groups.front().group.empty()) {
    std::rotate(groups.begin(), groups.begin() + 1, groups.end());
  }
  return groups;
}

}  // namespace velmora::evaluation
