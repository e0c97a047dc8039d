// Rendering a tuning run: terminal tables, CSV files and the settings file a
// search writes (the figure of a sweep is figures/RocPlot.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TuneResults.h"

namespace tune {

// The summary columns velmora-eval --summary-csv gives, by the same names.
[[nodiscard]] std::vector<std::string> summaryColumnNames();
[[nodiscard]] std::vector<std::string> summaryColumnValues(const OutcomeCounts& counts);

// With a false-alarm budget the table marks the most sensitive front point
// within it ("* best", the point the figure circles) and names it below;
// the CSV gains within_limit and best columns (1 or 0). Without one, neither
// changes.
[[nodiscard]] std::string sweepTable(const SweepResults& results,
                                     std::optional<double> budget = std::nullopt);
[[nodiscard]] std::string sweepCsv(const SweepResults& results,
                                   std::optional<double> budget = std::nullopt);

[[nodiscard]] std::string searchReport(const SearchResults& results);
[[nodiscard]] std::string searchTrialsCsv(const SearchResults& results);
// The settings file of the final search's best trial, with a comment block
// recording `command`, the seed and the cross-validated figures. Empty
// when the final search found nothing within the limit.
[[nodiscard]] std::string searchSettingsFile(const SearchResults& results,
                                             const std::string& command);
// Pooled held-out figures of the fold searches that found a result.
[[nodiscard]] OutcomeCounts pooledHeldOut(const SearchResults& results);
// Whether every search found a candidate within the limit.
[[nodiscard]] bool searchSucceeded(const SearchResults& results);
// Whether the pooled held-out false alarms per hour lie above the budget.
[[nodiscard]] bool searchOverBudget(const SearchResults& results);
// The warning block for a search over its budget (one line each, no line
// ends), or nothing.
[[nodiscard]] std::vector<std::string> budgetWarning(const SearchResults& results);

[[nodiscard]] std::string percentText(std::optional<double> fraction);
[[nodiscard]] std::string rateText(std::optional<double> perHour);
[[nodiscard]] std::string csvText(const std::string& field);

}  // namespace tune
