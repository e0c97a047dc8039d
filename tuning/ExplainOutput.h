// The outputs of an explanation: the terminal summary, the CSV of fixes
// (one row per recording, setting and side) and the JSON tree, which the
// Python module hands out as dictionaries and lists.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "EvalRender.h"
#include "Explain.h"

namespace tune {

// The first columns of the CSV, in order; more may follow them.
[[nodiscard]] std::vector<std::string> explainCsvColumns();

// Causes of the errors with their counts per outcome, in the fixed order.
struct CauseCount {
  Cause cause = Cause::NoSingleSetting;
  int64_t missed = 0;
  int64_t early = 0;
  int64_t falseAlarms = 0;
  [[nodiscard]] int64_t total() const { return missed + early + falseAlarms; }
};
[[nodiscard]] std::vector<CauseCount> countCauses(const Explanation& explanation);

[[nodiscard]] std::string explainText(const Explanation& explanation, const RecordingCache& cache,
                                      std::size_t topFixes = 10);
[[nodiscard]] std::string explainCsv(const Explanation& explanation);
[[nodiscard]] velmora::evaluation::JsonValue explainJson(const Explanation& explanation);

// What the detector saw, in one paragraph of plain words.
[[nodiscard]] std::string describeSightText(const Sight& sight, const DetectorSettings& settings,
                                            bool fall);
// The figures of a cost as "+41 falls, -0 lost, +0.9 false alarms per hour".
[[nodiscard]] std::string describeCost(const Explanation& explanation, const FixCost& cost);

}  // namespace tune
