// Draws a RecordingFigure as a self-contained SVG figure: stacked panels of
// acceleration magnitude, angular-rate magnitude, optionally the raw axes,
// roll and pitch over time, event lanes, the annotated fall position and the
// detections. The size is bounded whatever the length of the recording:
// at most two points per pixel column and series, and spans and markers
// closer than a pixel merged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "PlotCollector.h"

// Stable hooks for scripts and tests: the elements carry these classes.
inline constexpr char kFallPositionClass[] = "fall-position";
inline constexpr char kDetectionClass[] = "detection";  // data-position, data-code, data-count
inline constexpr char kFirstDetectionLabelClass[] = "first-detection-label";

struct OutcomeStyle {
  const char* words;   // "fall detected", "fall missed", ...
  const char* colour;  // title colour
};

// Words and colour of an outcome name (tp, missed, early, false_alarm, tn).
[[nodiscard]] OutcomeStyle outcomeStyle(std::string_view outcome);

// The title line, e.g. "fall_forward.csv: fall detected at 7.32 s (sample
// 366), code 14, delay +20 ms".
[[nodiscard]] std::string describeVerdict(const RecordingFigure& figure);

struct SvgOptions {
  // Prepended to every id in the figure, so that several figures can sit
  // inline in one HTML page.
  std::string idPrefix;
  // The XML declaration, for a file of its own; left out inline.
  bool xmlDeclaration = true;
  // Text under the figure, a paragraph per item, wrapped to the width.
  std::vector<std::string> notes;
};

[[nodiscard]] std::string renderPlotSvg(const RecordingFigure& figure,
                                        const SvgOptions& options = {});

// Text for XML content and attribute values: markup escaped, control bytes
// and invalid UTF-8 replaced by '?'.
[[nodiscard]] std::string escapeXml(std::string_view text);
