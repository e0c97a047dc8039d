// Draws a RecordingPlot as a self-contained SVG figure: stacked panels of
// acceleration magnitude, angular-rate magnitude, roll and pitch over time,
// event lanes, the annotated fall position and every detection.
#pragma once

#include <string>

#include "PlotData.h"

// Stable hooks for scripts and tests: the elements carry these classes.
inline constexpr char kFallPositionClass[] = "fall-position";
inline constexpr char kDetectionClass[] = "detection";
inline constexpr char kFirstDetectionLabelClass[] = "first-detection-label";

// The verdict line used as the figure's title, e.g.
// "fall_forward.csv: fall detected at 7.32 s (sample 366), code 14, delay +20 ms".
[[nodiscard]] std::string describeVerdict(const RecordingPlot& plot);

[[nodiscard]] std::string renderPlotSvg(const RecordingPlot& plot);
