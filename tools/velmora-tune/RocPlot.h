// The trade-off figure of a sweep: sensitivity against false alarms per
// hour for every point, the points no other point beats on both marked as
// the front, and the base settings marked.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tune {

struct RocPoint {
  double falseAlarmsPerHour = 0.0;
  double sensitivity = 0.0;  // 0..1
};

// Indices of the points on the front: no other point has at least the same
// sensitivity with at most the same false alarms per hour and is better on
// one of them. Ascending by false alarms per hour; of equal points the
// first is kept.
[[nodiscard]] std::vector<std::size_t> paretoFront(const std::vector<RocPoint>& points);

// An SVG document. `title` heads the figure.
[[nodiscard]] std::string rocSvg(const std::vector<RocPoint>& points,
                                 const std::optional<RocPoint>& base, const std::string& title);

}  // namespace tune
