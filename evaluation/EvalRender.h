// The outputs of an evaluation: a readable table for the terminal, the
// per-recording rows as CSV, the summary as CSV, and everything as JSON.
// The JSON is built as a tree first (evaluationJson), so a program that
// wants the same data as structures (the Python module) walks the tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "EvalSummary.h"
#include "Evaluation.h"

namespace velmora::evaluation {

// The layout version of the JSON (its "format" field), raised whenever a
// key changes meaning or goes away; apart from the detector's version.
inline constexpr int64_t kJsonFormat = 1;

// Shown for the recordings the grouping did not place in a group.
inline constexpr char kUnmatchedGroupName[] = "(no match)";

// A JSON value. Objects keep their members in insertion order. `multiline`
// is a layout hint: such an array or object puts each item on its own line.
struct JsonValue {
  enum class Kind { Null, Boolean, Integer, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  int64_t integer = 0;
  double number = 0.0;
  std::string text;
  std::vector<std::string> keys;  // an object's member names, one per item
  std::vector<JsonValue> items;   // an array's items or an object's member values
  bool multiline = false;

  [[nodiscard]] static JsonValue null() { return {}; }
  [[nodiscard]] static JsonValue fromBoolean(bool value);
  [[nodiscard]] static JsonValue fromInteger(int64_t value);
  [[nodiscard]] static JsonValue fromNumber(double value);
  [[nodiscard]] static JsonValue fromString(std::string value);
  [[nodiscard]] static JsonValue fromOptional(std::optional<int64_t> value);
  [[nodiscard]] static JsonValue fromOptional(std::optional<double> value);
  [[nodiscard]] static JsonValue array(bool multiline = false);
  [[nodiscard]] static JsonValue object(bool multiline = false);

  // Appends an object member or an array item; returns *this.
  JsonValue& add(std::string key, JsonValue value);
  JsonValue& push(JsonValue value);
  // The member named `key` of an object, or null.
  [[nodiscard]] const JsonValue* find(const std::string& key) const;
};

// The JSON text of a value, without a final line end.
[[nodiscard]] std::string formatJsonValue(const JsonValue& value);

// One recording as JSON: the CSV columns as keys, null for empty; "group"
// only when grouped.
[[nodiscard]] JsonValue recordingJson(const RecordingResult& result, bool grouped);
// A summary as JSON (multi-line).
[[nodiscard]] JsonValue summaryJson(const EvalSummary& summary);
// The whole evaluation: version, tolerance, settings, recordings, summary,
// groups. What --json writes.
[[nodiscard]] JsonValue evaluationJson(const Evaluation& evaluation);

// The summary as (metric, value) pairs, the values as the CSV writes them
// ("" for a rate whose denominator is zero): recordings, unreadable,
// fall_recordings, ..., sensitivity, sensitivity_low, sensitivity_high, ...,
// false_alarms_per_hour(_low, _high), delay_*, first_code_*.
[[nodiscard]] std::vector<std::pair<std::string, std::string>> summaryMetrics(
    const EvalSummary& summary);

// The text output: the table (unless `withRecordings` is false), the
// settings, the tolerance, the summary and the group table.
[[nodiscard]] std::string formatTable(const Evaluation& evaluation, bool withRecordings = true);
// The summary block of the text output.
[[nodiscard]] std::string formatSummaryBlock(const EvalSummary& summary);
// One line per group, with a header line.
[[nodiscard]] std::string formatGroupTable(const std::vector<GroupSummary>& groups);
// Header line, then one row per recording; the first eight columns are
// recording, samples, detections, first_index, first_code, fall_position,
// delay_ms, outcome.
[[nodiscard]] std::string formatRecordingsCsv(const Evaluation& evaluation);
// group,metric,value lines: the overall figures (empty group) and each group's.
[[nodiscard]] std::string formatSummaryCsv(const Evaluation& evaluation);
// One row per alarm (run of consecutive positive samples) of the readable
// recordings: recording, position, time_s, length, code, not_early (true
// when a fall recording's alarm starts no earlier than the fall position
// minus the tolerance; empty for daily living). Needs the alarms kept.
[[nodiscard]] std::string formatAlarmsCsv(const Evaluation& evaluation);
// evaluationJson as text, with a final line end.
[[nodiscard]] std::string formatJson(const Evaluation& evaluation);

// "(no match)" for the empty group, the group itself otherwise.
[[nodiscard]] std::string groupLabel(const std::string& group);
// Quotes a CSV field when it holds a comma, quote, CR or LF, doubling quotes.
[[nodiscard]] std::string csvField(const std::string& text);
// A JSON string literal; bytes that are not valid UTF-8 become U+FFFD.
[[nodiscard]] std::string jsonString(const std::string& text);
// The shortest text that reads back as the same double.
[[nodiscard]] std::string doubleText(double value);
// `value` with `decimals` digits after the point ("%.*f").
[[nodiscard]] std::string fixedText(double value, int decimals);
// Pads every column to its widest cell: left-aligned where `left` says so,
// right-aligned otherwise; trailing blanks are dropped.
[[nodiscard]] std::string alignColumns(const std::vector<std::vector<std::string>>& rows,
                                       const std::vector<bool>& left);
// A rate as a percentage with one decimal ("33.3%"), or "n/a".
[[nodiscard]] std::string percentText(std::optional<double> value);

}  // namespace velmora::evaluation
