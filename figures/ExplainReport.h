// An explanation as the report and the plot show it: captions under the
// figures of the wrong recordings and the section of errors by cause.
#pragma once

#include <cstddef>
#include <string>

#include "Explain.h"
#include "HtmlReport.h"

namespace velmora::report {

// Fixes named under a figure.
inline constexpr std::size_t kCaptionFixes = 3;

// The captions (by the evaluation's order, which is the explanation's),
// the causes and the `topFixes` best fixes.
[[nodiscard]] ReportExplanation reportExplanation(const tune::Explanation& explanation,
                                                  std::size_t topFixes = 10);

// Lines under one error's figure: what the detector saw, the closest
// patterns, the nearest cause, then the cheapest fixes, best first by the
// ranking, each with its cost over the dataset when `withCost`.
[[nodiscard]] std::string explainCaption(const tune::Explanation& explanation,
                                         const tune::RecordingExplanation& error, std::size_t fixes,
                                         bool withCost);

}  // namespace velmora::report
