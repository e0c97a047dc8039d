// The trade-off figure of a sweep: sensitivity against false alarms per
// hour for every point, the points no other point beats on both marked as
// the front (each labelled with its figures, its settings on hover), the
// base settings marked, and a false-alarm budget drawn when there is one.
//
// The false-alarm axis is symmetric-logarithmic, position ~ log10(1 + rate):
// linear near 0 (so 0 itself is on the axis) and logarithmic above about 1
// per hour, so the range that matters, 0 to 5 per hour, takes about a third
// of the width even when some points reach 150 per hour.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ParetoFront.h"
#include "TuneResults.h"

namespace tune {

struct RocFigure {
  std::string title;
  std::vector<RocPoint> points;
  std::optional<RocPoint> base;  // the base settings
  std::optional<double> budget;  // false alarms per hour, drawn as a line
};

// An SVG document.
[[nodiscard]] std::string rocSvg(const RocFigure& figure);

// The horizontal position of a rate, 0..1 of the axis that ends at `axisMax`.
[[nodiscard]] double rocAxisPosition(double falseAlarmsPerHour, double axisMax);

// The ticks of the false-alarm axis: 0, 0.5, 1, 2, 3, 5, 10, 20, 50, 100,
// 200, 500, ... up to the first that reaches max(5, the highest rate); the
// last one ends the axis.
[[nodiscard]] std::vector<double> rocAxisTicks(double highestRate);

// The figure of a sweep, titled by the settings it varies; `budget` as above.
[[nodiscard]] std::string sweepRocSvg(const SweepResults& results,
                                      std::optional<double> budget = std::nullopt);

}  // namespace tune
