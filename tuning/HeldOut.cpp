#include "HeldOut.h"

#include <algorithm>
#include <cmath>

#include "EvalRender.h"
#include "Search.h"

namespace tune {

using velmora::evaluation::EvalSummary;

namespace {

// The seed stream of the bootstrap, apart from the folds' and searches'.
constexpr uint64_t kBootstrapStream = 0x626f6f7473747261ULL;

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) {
    return std::nullopt;
  }
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

}  // namespace

std::string personName(const std::string& group) {
  return group.empty() ? std::string(velmora::evaluation::kUnmatchedGroupName) : group;
}

std::optional<Interval> bootstrapRate(const std::vector<std::pair<int64_t, double>>& people,
                                      uint64_t seed, int resamples) {
  if (std::none_of(people.begin(), people.end(), [](const auto& p) { return p.second > 0.0; })) {
    return std::nullopt;
  }
  SplitMix64 random(seed);
  std::vector<double> rates;
  rates.reserve(static_cast<std::size_t>(resamples));
  while (static_cast<int>(rates.size()) < resamples) {
    int64_t alarms = 0;
    double hours = 0.0;
    for (std::size_t k = 0; k < people.size(); ++k) {
      const auto& [personAlarms, personHours] = people[random.below(people.size())];
      alarms += personAlarms;
      hours += personHours;
    }
    if (hours > 0.0) {
      rates.push_back(static_cast<double>(alarms) / hours);
    }
  }
  std::sort(rates.begin(), rates.end());
  // Nearest-rank percentiles.
  const auto rank = [&](double fraction) {
    const auto r =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(rates.size())));
    return rates[std::clamp<std::size_t>(r, 1, rates.size()) - 1];
  };
  return Interval{rank(0.025), rank(0.975)};
}

HeldOutFigures heldOutFigures(const SearchResults& results) {
  HeldOutFigures figures;
  const double budget = results.config.maxFalseAlarmsPerHour;
  for (int f = 0; f < results.folds; ++f) {
    const auto& search = results.searches[static_cast<std::size_t>(f)];
    if (!search || !search->heldOut) {
      continue;
    }
    figures.pooled += *search->heldOut;
    ++figures.foldsJudged;
    const std::optional<double> perHour = search->heldOut->falseAlarmsPerHour();
    figures.foldsWithinBudget += perHour && *perHour <= budget ? 1 : 0;
    const auto& groups = results.foldGroups[static_cast<std::size_t>(f)];
    for (std::size_t g = 0; g < search->heldOutGroups.size() && g < groups.size(); ++g) {
      figures.people.push_back(PersonFigures{groups[g], f, search->heldOutGroups[g]});
    }
  }
  std::vector<double> sensitivities;
  std::vector<double> rates;
  std::vector<std::pair<int64_t, double>> exposure;
  for (std::size_t i = 0; i < figures.people.size(); ++i) {
    const OutcomeCounts& summary = figures.people[i].counts;
    exposure.emplace_back(summary.dailyLivingAlarms, summary.dailyLivingHours());
    if (const auto sensitivity = summary.sensitivity()) {
      sensitivities.push_back(*sensitivity);
      if (!figures.lowestSensitivity ||
          *sensitivity < *figures.people[*figures.lowestSensitivity].counts.sensitivity()) {
        figures.lowestSensitivity = i;
      }
    }
    if (const auto perHour = summary.falseAlarmsPerHour()) {
      rates.push_back(*perHour);
      if (*perHour > 0.0 &&
          (!figures.mostFalseAlarms ||
           *perHour > *figures.people[*figures.mostFalseAlarms].counts.falseAlarmsPerHour())) {
        figures.mostFalseAlarms = i;
      }
    }
  }
  figures.medianSensitivity = median(sensitivities);
  figures.medianFalseAlarmsPerHour = median(rates);
  figures.rateByPerson =
      bootstrapRate(exposure, streamSeed(results.seed, kBootstrapStream), kBootstrapResamples);
  const std::optional<double> pooledRate = figures.pooled.falseAlarmsPerHour();
  figures.overBudget = pooledRate && *pooledRate > budget;
  return figures;
}

}  // namespace tune
