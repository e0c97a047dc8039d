// The outputs of an evaluation: a readable table for the terminal, the
// per-recording rows as CSV, the summary as CSV, and everything as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EvalRun.h"
#include "EvalSummary.h"
#include "Velmora.h"

struct EvalReport {
  const std::vector<RecordingResult>& results;
  const EvalSummary& overall;
  const std::vector<GroupSummary>& groups;  // empty unless grouping was asked for
  const DetectorSettings& settings;
  double toleranceSeconds = 0.0;  // early tolerance
  int64_t toleranceSamples = 0;
  std::string groupPattern;  // empty unless grouping was asked for
};

// Shown for the recordings the grouping pattern did not match.
inline constexpr char kUnmatchedGroupName[] = "(no match)";

[[nodiscard]] std::string formatTable(const EvalReport& report);
// Header line, then one row per recording; the first eight columns are
// recording, samples, detections, first_index, first_code, fall_position,
// delay_ms, outcome.
[[nodiscard]] std::string formatRecordingsCsv(const EvalReport& report);
// group,metric,value lines: the overall figures (empty group) and each group's.
[[nodiscard]] std::string formatSummaryCsv(const EvalReport& report);
[[nodiscard]] std::string formatJson(const EvalReport& report);

// Quotes a CSV field when it holds a comma, quote, CR or LF, doubling quotes.
[[nodiscard]] std::string csvField(const std::string& text);
// A JSON string literal; bytes that are not valid UTF-8 become U+FFFD.
[[nodiscard]] std::string jsonString(const std::string& text);
