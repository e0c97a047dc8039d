// The trade-off of a sweep: sensitivity against false alarms per hour for
// every point, and the points no other point beats on both (the front).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "TuneResults.h"

namespace tune {

struct RocPoint {
  double falseAlarmsPerHour = 0.0;
  double sensitivity = 0.0;  // 0..1
  std::string settings = {};  // what the point sets ("lowLevel=70, impactMin=150")
};

// Indices of the points on the front: no other point has at least the same
// sensitivity with at most the same false alarms per hour and is better on
// one of them. Ascending by false alarms per hour; of equal points the
// first is kept.
[[nodiscard]] std::vector<std::size_t> paretoFront(const std::vector<RocPoint>& points);

// The most sensitive point of `front` (as paretoFront gives it) with at
// most `budget` false alarms per hour, or none. The figure circles it and
// the sweep's table and CSV mark it, so all three agree.
[[nodiscard]] std::optional<std::size_t> bestWithinBudget(const std::vector<RocPoint>& points,
                                                          const std::vector<std::size_t>& front,
                                                          double budget);

// The points of a sweep that have both figures, in sweep order, each with
// its settings; `kept` receives the index into results.points of each.
[[nodiscard]] std::vector<RocPoint> sweepRocPoints(const SweepResults& results,
                                                   std::vector<std::size_t>& kept);

}  // namespace tune
