#include "ParetoFront.h"

#include <algorithm>
#include <numeric>

#include "EvalSummary.h"

namespace tune {

std::vector<std::size_t> paretoFront(const std::vector<RocPoint>& points) {
  std::vector<std::size_t> order(points.size());
  std::iota(order.begin(), order.end(), 0);
  // Fewest false alarms first; among equals the most sensitive, then the
  // earliest.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (points[a].falseAlarmsPerHour != points[b].falseAlarmsPerHour) {
      return points[a].falseAlarmsPerHour < points[b].falseAlarmsPerHour;
    }
    return points[a].sensitivity > points[b].sensitivity;
  });
  std::vector<std::size_t> front;
  for (const std::size_t index : order) {
    if (front.empty() || points[index].sensitivity > points[front.back()].sensitivity) {
      front.push_back(index);
    }
  }
  return front;
}

std::optional<std::size_t> bestWithinBudget(const std::vector<RocPoint>& points,
                                            const std::vector<std::size_t>& front, double budget) {
  std::optional<std::size_t> best;
  for (const std::size_t index : front) {
    if (points[index].falseAlarmsPerHour <= budget) {
      best = index;  // the front ascends: the last within wins
    }
  }
  return best;
}

std::vector<RocPoint> sweepRocPoints(const SweepResults& results, std::vector<std::size_t>& kept) {
  std::vector<RocPoint> points;
  for (std::size_t i = 0; i < results.points.size(); ++i) {
    const OutcomeCounts& s = results.points[i].counts;
    if (s.sensitivity() && s.falseAlarmsPerHour()) {
      const Levels levels = gridLevels(results.space, results.points[i].index);
      std::string settings;
      for (std::size_t d = 0; d < results.space.size(); ++d) {
        settings += std::string(d == 0 ? "" : ", ") + results.space[d].name() + "=" +
                    std::to_string(results.space[d].valueAt(levels[d]));
      }
      points.push_back(RocPoint{*s.falseAlarmsPerHour(), *s.sensitivity(), settings});
      kept.push_back(i);
    }
  }
  return points;
}

}  // namespace tune
