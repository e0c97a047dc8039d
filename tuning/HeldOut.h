// The held-out figures of a cross-validated search: what the searched
// settings did for people the search never saw, pooled, per fold and per
// person, with 95 % intervals. Everything derives from the integer counts
// of the part files and the run's seed, so a run and a merge of its shards
// give the same figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EvalIntervals.h"
#include "TuneResults.h"

namespace tune {

using velmora::evaluation::Interval;

// Resamples of the bootstrap over people.
inline constexpr int kBootstrapResamples = 2000;

struct PersonFigures {
  std::string group;  // "" for the recordings --group-by matched no group for
  int fold = 0;       // 0-based
  OutcomeCounts counts;      // held out, under the settings tuned without the fold
};

struct HeldOutFigures {
  OutcomeCounts pooled;
  std::vector<PersonFigures> people;  // by fold, then group
  // Folds whose search found settings, and those of them whose held-out
  // false alarms per hour stayed within the budget.
  int foldsJudged = 0;
  int foldsWithinBudget = 0;
  // A 95 % percentile interval of the pooled rate from resampling the
  // people (with replacement): alarms come in clusters, one person's rough
  // day bringing many, and the Poisson interval, which counts every alarm
  // as independent, is too narrow for that. Empty with no daily living.
  std::optional<Interval> rateByPerson;
  // Medians over the people with fall recordings (sensitivity) and with
  // daily living (false alarms per hour); the worst person by each.
  std::optional<double> medianSensitivity;
  std::optional<double> medianFalseAlarmsPerHour;
  std::optional<std::size_t> lowestSensitivity;  // index into people
  std::optional<std::size_t> mostFalseAlarms;    // index into people; none without alarms
  // The pooled rate lies above the budget: the settings are unlikely to
  // hold it for new people.
  bool overBudget = false;
};

[[nodiscard]] HeldOutFigures heldOutFigures(const SearchResults& results);

// The bootstrap itself: the 2.5 and 97.5 percentiles of the pooled rate
// (alarms over hours) of `resamples` draws of as many people, with
// replacement, from `people` (per person: alarms, hours). Draws with no
// hours at all are drawn again. Empty when nobody has hours.
[[nodiscard]] std::optional<Interval> bootstrapRate(
    const std::vector<std::pair<int64_t, double>>& people, uint64_t seed, int resamples);

// The text a person's group is shown by.
[[nodiscard]] std::string personName(const std::string& group);

}  // namespace tune
