// The trade-off figure of a sweep: sensitivity against false alarms per
// hour for every point, the points no other point beats on both marked as
// the front, and the base settings marked.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ParetoFront.h"
#include "TuneResults.h"

namespace tune {

// An SVG document. `title` heads the figure.
[[nodiscard]] std::string rocSvg(const std::vector<RocPoint>& points,
                                 const std::optional<RocPoint>& base, const std::string& title);

// The figure of a sweep, titled by the settings it varies.
[[nodiscard]] std::string sweepRocSvg(const SweepResults& results);

}  // namespace tune
