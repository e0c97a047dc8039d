#include "EvalRender.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "SettingsTable.h"
#include "TextUtils.h"

namespace velmora::evaluation {

namespace {

std::string numberText(std::optional<int64_t> value) {
  return value ? std::to_string(*value) : std::string();
}

// "95% CI 6.1% to 79.2%", or "" without an interval.
std::string percentIntervalText(std::optional<Interval> interval) {
  if (!interval) {
    return {};
  }
  return "95% CI " + percentText(interval->low) + " to " + percentText(interval->high);
}

// Only a readable fall recording has a position worth showing: after a
// failed read of its info file the position is a placeholder.
std::optional<int64_t> annotatedPosition(const RecordingResult& result) {
  if (!result.isFall || result.outcome == Outcome::Unreadable) {
    return std::nullopt;
  }
  return result.fallPosition;
}

std::string changedSettingsText(const DetectorSettings& settings) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  std::string text;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    if (settings.*(field.member) != defaults.*(field.member)) {
      text += text.empty() ? "" : ", ";
      text += std::string(field.name) + "=" + std::to_string(settings.*(field.member)) +
              " (default " + std::to_string(defaults.*(field.member)) + ")";
    }
  }
  return text.empty() ? "defaults" : text;
}

std::string settingsFilesLine(const SettingsProvenance& provenance) {
  if (provenance.files.empty()) {
    return {};
  }
  std::string text = provenance.files.size() == 1 ? "Settings file: " : "Settings files: ";
  for (std::size_t i = 0; i < provenance.files.size(); ++i) {
    text += (i == 0 ? "" : ", ") + provenance.files[i];
  }
  return text + "\n";
}

std::string delayText(const EvalSummary& summary) {
  if (summary.delaysMs.empty()) {
    return "-";
  }
  return numberText(summary.delayPercentileMs(50)) + " / " +
         numberText(summary.delayPercentileMs(90)) + " / " +
         numberText(summary.delayPercentileMs(100));
}


}  // namespace

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + "\"";
}

std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      quoted += escape;
    } else if (c >= 0x80) {
      const std::size_t length = utf8Length(std::string_view(text).substr(i));
      if (length == 0) {
        quoted += "\\ufffd";
        ++i;
      } else {
        quoted.append(text, i, length);
        i += length;
      }
      continue;
    } else {
      quoted += static_cast<char>(c);
    }
    ++i;
  }
  return quoted + "\"";
}

std::string alignColumns(const std::vector<std::vector<std::string>>& rows,
                         const std::vector<bool>& left) {
  std::vector<std::size_t> widths(left.size(), 0);
  for (const auto& row : rows) {
    for (std::size_t column = 0; column < row.size() && column < widths.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size() && column < widths.size(); ++column) {
      const std::string padding(widths[column] - row[column].size(), ' ');
      line += column == 0 ? "" : "  ";
      line += left[column] ? row[column] + padding : padding + row[column];
    }
    while (!line.empty() && line.back() == ' ') {
      line.pop_back();
    }
    text += line + "\n";
  }
  return text;
}

std::string fixedText(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string doubleText(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string percentText(std::optional<double> value) {
  if (!value) {
    return "n/a";
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f%%", *value * 100.0);
  return buffer;
}

std::string groupLabel(const std::string& group) {
  return group.empty() ? kUnmatchedGroupName : group;
}

// ---- JSON values

JsonValue JsonValue::fromBoolean(bool value) {
  JsonValue json;
  json.kind = Kind::Boolean;
  json.boolean = value;
  return json;
}

JsonValue JsonValue::fromInteger(int64_t value) {
  JsonValue json;
  json.kind = Kind::Integer;
  json.integer = value;
  return json;
}

JsonValue JsonValue::fromNumber(double value) {
  JsonValue json;
  json.kind = Kind::Number;
  json.number = value;
  return json;
}

JsonValue JsonValue::fromString(std::string value) {
  JsonValue json;
  json.kind = Kind::String;
  json.text = std::move(value);
  return json;
}

JsonValue JsonValue::fromOptional(std::optional<int64_t> value) {
  return value ? fromInteger(*value) : null();
}

JsonValue JsonValue::fromOptional(std::optional<double> value) {
  return value ? fromNumber(*value) : null();
}

JsonValue JsonValue::array(bool multiline) {
  JsonValue json;
  json.kind = Kind::Array;
  json.multiline = multiline;
  return json;
}

JsonValue JsonValue::object(bool multiline) {
  JsonValue json;
  json.kind = Kind::Object;
  json.multiline = multiline;
  return json;
}

JsonValue& JsonValue::add(std::string key, JsonValue value) {
  keys.push_back(std::move(key));
  items.push_back(std::move(value));
  return *this;
}

JsonValue& JsonValue::push(JsonValue value) {
  items.push_back(std::move(value));
  return *this;
}

const JsonValue* JsonValue::find(const std::string& key) const {
  for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i) {
    if (keys[i] == key) {
      return &items[i];
    }
  }
  return nullptr;
}

namespace {

// `indent` is the indentation of the line the value starts on; the items of
// a multi-line container go two spaces deeper, its closing bracket at
// `indent`.
void appendJson(std::string& out, const JsonValue& value, std::size_t indent) {
  switch (value.kind) {
    case JsonValue::Kind::Null:
      out += "null";
      return;
    case JsonValue::Kind::Boolean:
      out += value.boolean ? "true" : "false";
      return;
    case JsonValue::Kind::Integer:
      out += std::to_string(value.integer);
      return;
    case JsonValue::Kind::Number:
      out += doubleText(value.number);
      return;
    case JsonValue::Kind::String:
      out += jsonString(value.text);
      return;
    case JsonValue::Kind::Array:
    case JsonValue::Kind::Object:
      break;
  }
  const bool isObject = value.kind == JsonValue::Kind::Object;
  out += isObject ? '{' : '[';
  if (value.items.empty()) {
    out += isObject ? '}' : ']';
    return;
  }
  const std::size_t itemIndent = value.multiline ? indent + 2 : indent;
  for (std::size_t i = 0; i < value.items.size(); ++i) {
    if (value.multiline) {
      out += i == 0 ? "\n" : ",\n";
      out.append(itemIndent, ' ');
    } else if (i > 0) {
      out += ", ";
    }
    if (isObject) {
      out += jsonString(i < value.keys.size() ? value.keys[i] : std::string()) + ": ";
    }
    appendJson(out, value.items[i], itemIndent);
  }
  if (value.multiline) {
    out += '\n';
    out.append(indent, ' ');
  }
  out += isObject ? '}' : ']';
}

}  // namespace

std::string formatJsonValue(const JsonValue& value) {
  std::string out;
  appendJson(out, value, 0);
  return out;
}

// ---- Summary

std::vector<std::pair<std::string, std::string>> summaryMetrics(const EvalSummary& summary) {
  std::vector<std::pair<std::string, std::string>> metrics;
  const auto line = [&](const std::string& metric, const std::string& value) {
    metrics.emplace_back(metric, value);
  };
  const auto optionalNumber = [](std::optional<double> value) {
    return value ? doubleText(*value) : std::string();
  };
  line("recordings", std::to_string(summary.recordings));
  line("unreadable", std::to_string(summary.unreadable));
  line("fall_recordings", std::to_string(summary.fallRecordings()));
  line("daily_living_recordings", std::to_string(summary.dailyLivingRecordings()));
  line("tp", std::to_string(summary.truePositives));
  line("missed", std::to_string(summary.missed));
  line("early", std::to_string(summary.earlyAlarms));
  line("false_alarm", std::to_string(summary.falseAlarms));
  line("tn", std::to_string(summary.trueNegatives));
  const auto interval = [&](const std::string& metric, std::optional<Interval> bounds) {
    line(metric + "_low", bounds ? doubleText(bounds->low) : std::string());
    line(metric + "_high", bounds ? doubleText(bounds->high) : std::string());
  };
  line("sensitivity", optionalNumber(summary.sensitivity()));
  interval("sensitivity", summary.sensitivityInterval());
  line("specificity", optionalNumber(summary.specificity()));
  interval("specificity", summary.specificityInterval());
  line("accuracy", optionalNumber(summary.accuracy()));
  line("daily_living_hours", doubleText(summary.dailyLivingHours()));
  line("daily_living_alarms", std::to_string(summary.dailyLivingAlarms));
  line("false_alarms_per_hour", optionalNumber(summary.falseAlarmsPerHour()));
  interval("false_alarms_per_hour", summary.falseAlarmsPerHourInterval());
  line("in_sample_recordings",
       summary.inSampleRecordings ? std::to_string(*summary.inSampleRecordings) : std::string());
  line("delay_count", std::to_string(summary.delaysMs.size()));
  line("delay_median_ms", numberText(summary.delayPercentileMs(50)));
  line("delay_p90_ms", numberText(summary.delayPercentileMs(90)));
  line("delay_max_ms", numberText(summary.delayPercentileMs(100)));
  for (const CodeCount& code : summary.firstCodes) {
    line("first_code_" + std::to_string(code.code) + "_fall", std::to_string(code.fallRecordings));
    line("first_code_" + std::to_string(code.code) + "_daily_living",
         std::to_string(code.dailyLivingRecordings));
  }
  return metrics;
}

JsonValue summaryJson(const EvalSummary& summary) {
  JsonValue json = JsonValue::object(true);
  json.add("recordings", JsonValue::fromInteger(summary.recordings));
  json.add("unreadable", JsonValue::fromInteger(summary.unreadable));
  json.add("fall_recordings", JsonValue::fromInteger(summary.fallRecordings()));
  json.add("daily_living_recordings", JsonValue::fromInteger(summary.dailyLivingRecordings()));
  json.add("outcomes", JsonValue::object()
                           .add("tp", JsonValue::fromInteger(summary.truePositives))
                           .add("missed", JsonValue::fromInteger(summary.missed))
                           .add("early", JsonValue::fromInteger(summary.earlyAlarms))
                           .add("false_alarm", JsonValue::fromInteger(summary.falseAlarms))
                           .add("tn", JsonValue::fromInteger(summary.trueNegatives)));
  const auto interval = [&json](const std::string& name, std::optional<Interval> bounds) {
    json.add(name + "_low", bounds ? JsonValue::fromNumber(bounds->low) : JsonValue::null());
    json.add(name + "_high", bounds ? JsonValue::fromNumber(bounds->high) : JsonValue::null());
  };
  json.add("sensitivity", JsonValue::fromOptional(summary.sensitivity()));
  interval("sensitivity", summary.sensitivityInterval());
  json.add("specificity", JsonValue::fromOptional(summary.specificity()));
  interval("specificity", summary.specificityInterval());
  json.add("accuracy", JsonValue::fromOptional(summary.accuracy()));
  json.add("daily_living_hours", JsonValue::fromNumber(summary.dailyLivingHours()));
  json.add("daily_living_alarms", JsonValue::fromInteger(summary.dailyLivingAlarms));
  json.add("false_alarms_per_hour", JsonValue::fromOptional(summary.falseAlarmsPerHour()));
  interval("false_alarms_per_hour", summary.falseAlarmsPerHourInterval());
  json.add("in_sample_recordings", JsonValue::fromOptional(summary.inSampleRecordings));
  json.add("delay_ms",
           JsonValue::object()
               .add("count", JsonValue::fromInteger(static_cast<int64_t>(summary.delaysMs.size())))
               .add("median", JsonValue::fromOptional(summary.delayPercentileMs(50)))
               .add("p90", JsonValue::fromOptional(summary.delayPercentileMs(90)))
               .add("max", JsonValue::fromOptional(summary.delayPercentileMs(100))));
  JsonValue codes = JsonValue::array();
  for (const CodeCount& code : summary.firstCodes) {
    codes.push(JsonValue::object()
                   .add("code", JsonValue::fromInteger(code.code))
                   .add("fall", JsonValue::fromInteger(code.fallRecordings))
                   .add("daily_living", JsonValue::fromInteger(code.dailyLivingRecordings)));
  }
  json.add("first_codes", std::move(codes));
  return json;
}

std::string formatSummaryBlock(const EvalSummary& summary) {
  const auto count = [](int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string text;
  text += "Recordings: " + std::to_string(summary.recordings) + " (" +
          std::to_string(summary.fallRecordings()) + " fall, " +
          std::to_string(summary.dailyLivingRecordings()) + " daily-living, " +
          std::to_string(summary.unreadable) + " unreadable)\n";
  text += alignColumns(
      {
          {"  true positives", std::to_string(summary.truePositives)},
          {"  missed", std::to_string(summary.missed)},
          {"  early alarms", std::to_string(summary.earlyAlarms)},
          {"  false alarms", std::to_string(summary.falseAlarms)},
          {"  true negatives", std::to_string(summary.trueNegatives)},
      },
      {true, false});
  text += alignColumns(
      {
          {"Sensitivity", percentText(summary.sensitivity()),
           "(" + std::to_string(summary.truePositives) + " of " +
               count(summary.fallRecordings(), "fall recording", "fall recordings") + ")",
           percentIntervalText(summary.sensitivityInterval())},
          {"Specificity", percentText(summary.specificity()),
           "(" + std::to_string(summary.trueNegatives) + " of " +
               count(summary.dailyLivingRecordings(), "daily-living recording",
                     "daily-living recordings") +
               ")",
           percentIntervalText(summary.specificityInterval())},
          {"Accuracy", percentText(summary.accuracy()),
           "(" + std::to_string(summary.truePositives + summary.trueNegatives) + " of " +
               count(summary.fallRecordings() + summary.dailyLivingRecordings(),
                     "readable recording", "readable recordings") +
               ")"},
      },
      {true, false, true, true});
  const std::optional<double> perHour = summary.falseAlarmsPerHour();
  const std::optional<Interval> perHourInterval = summary.falseAlarmsPerHourInterval();
  text += "False alarms per hour of daily-living data: " +
          (perHour ? fixedText(*perHour, 2) : std::string("n/a")) + " (" +
          count(summary.dailyLivingAlarms, "alarm", "alarms") + " in " +
          fixedText(summary.dailyLivingHours(), 3) + " h)" +
          (perHourInterval ? "  95% CI " + fixedText(perHourInterval->low, 2) + " to " +
                                 fixedText(perHourInterval->high, 2)
                           : std::string()) +
          "\n";
  if (summary.inSampleRecordings.value_or(0) > 0) {
    text += inSampleNote(*summary.inSampleRecordings, summary.recordings) + "\n";
  }
  if (summary.delaysMs.empty()) {
    text += "Delay of true positives: n/a (none)\n";
  } else {
    text += "Delay of true positives (ms): median " + numberText(summary.delayPercentileMs(50)) +
            ", 90th percentile " + numberText(summary.delayPercentileMs(90)) + ", maximum " +
            numberText(summary.delayPercentileMs(100)) + " (nearest rank, " +
            count(static_cast<int64_t>(summary.delaysMs.size()), "recording", "recordings") + ")\n";
  }
  if (summary.firstCodes.empty()) {
    text += "First-detection codes: none\n";
  } else {
    text += "First-detection codes (recordings whose first detection had the code):\n";
    std::vector<std::vector<std::string>> rows = {{"  code", "fall", "daily-living"}};
    for (const CodeCount& code : summary.firstCodes) {
      rows.push_back({std::to_string(code.code), std::to_string(code.fallRecordings),
                      std::to_string(code.dailyLivingRecordings)});
    }
    text += alignColumns(rows, {false, false, false});
  }
  return text;
}

std::string formatGroupTable(const std::vector<GroupSummary>& groups) {
  std::vector<std::vector<std::string>> rows = {{"group", "recs", "tp", "missed", "early", "fa",
                                                 "tn", "err", "sensitivity", "specificity",
                                                 "accuracy", "fa/h", "delay ms med/p90/max"}};
  for (const GroupSummary& group : groups) {
    const EvalSummary& s = group.summary;
    const std::optional<double> perHour = s.falseAlarmsPerHour();
    rows.push_back(
        {groupLabel(group.group), std::to_string(s.recordings), std::to_string(s.truePositives),
         std::to_string(s.missed), std::to_string(s.earlyAlarms), std::to_string(s.falseAlarms),
         std::to_string(s.trueNegatives), std::to_string(s.unreadable),
         percentText(s.sensitivity()), percentText(s.specificity()), percentText(s.accuracy()),
         perHour ? fixedText(*perHour, 2) : std::string("n/a"), delayText(s)});
  }
  std::vector<bool> left(rows.front().size(), false);
  left.front() = true;
  left.back() = true;
  return alignColumns(rows, left);
}

// ---- Recordings

JsonValue recordingJson(const RecordingResult& result, bool grouped) {
  const bool readable = result.outcome != Outcome::Unreadable;
  const auto count = [&](int64_t value) {
    return readable ? JsonValue::fromInteger(value) : JsonValue::null();
  };
  JsonValue json = JsonValue::object();
  json.add("recording", JsonValue::fromString(result.path));
  json.add("samples", count(result.samples));
  json.add("detections", count(result.detections));
  json.add("first_index", JsonValue::fromOptional(result.firstIndex));
  json.add("first_code",
           result.firstIndex ? JsonValue::fromInteger(result.firstCode) : JsonValue::null());
  json.add("fall_position", JsonValue::fromOptional(annotatedPosition(result)));
  json.add("delay_ms", JsonValue::fromOptional(detectionDelayMs(result)));
  json.add("outcome", JsonValue::fromString(outcomeName(result.outcome)));
  json.add("alarms", count(result.alarms));
  json.add("short_lines", count(result.shortLines));
  if (grouped) {
    json.add("group",
             result.group.empty() ? JsonValue::null() : JsonValue::fromString(result.group));
  }
  json.add("problem",
           result.problem.empty() ? JsonValue::null() : JsonValue::fromString(result.problem));
  json.add("in_sample",
           result.inSample ? JsonValue::fromBoolean(*result.inSample) : JsonValue::null());
  return json;
}

JsonValue evaluationJson(const Evaluation& evaluation) {
  JsonValue json = JsonValue::object(true);
  json.add("format", JsonValue::fromInteger(kJsonFormat));
  json.add("version", JsonValue::fromString(VelmoraGetVersion()));
  json.add("early_tolerance_seconds", JsonValue::fromNumber(evaluation.toleranceSeconds));
  json.add("early_tolerance_samples", JsonValue::fromInteger(evaluation.toleranceSamples));
  JsonValue settings = JsonValue::object();
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    settings.add(field.name, JsonValue::fromInteger(evaluation.settings.*(field.member)));
  }
  json.add("settings", std::move(settings));
  JsonValue settingsFiles = JsonValue::array();
  for (const std::string& file : evaluation.provenance.files) {
    settingsFiles.push(JsonValue::fromString(file));
  }
  json.add("settings_files", std::move(settingsFiles));
  if (evaluation.grouped()) {
    JsonValue keys = JsonValue::array();
    for (const GroupKey& key : evaluation.groupKeys) {
      keys.push(JsonValue::object().add(key.kind == GroupKey::Kind::Pattern ? "pattern" : "column",
                                        JsonValue::fromString(key.text)));
    }
    json.add("group_by", std::move(keys));
  }
  JsonValue recordings = JsonValue::array(true);
  for (const RecordingResult& result : evaluation.results) {
    recordings.push(recordingJson(result, evaluation.grouped()));
  }
  json.add("recordings", std::move(recordings));
  json.add("summary", summaryJson(evaluation.overall));
  if (evaluation.grouped()) {
    JsonValue groups = JsonValue::array(true);
    for (const GroupSummary& group : evaluation.groups) {
      groups.push(JsonValue::object()
                      .add("group", group.group.empty() ? JsonValue::null()
                                                        : JsonValue::fromString(group.group))
                      .add("summary", summaryJson(group.summary)));
    }
    json.add("groups", std::move(groups));
  }
  return json;
}

std::string formatTable(const Evaluation& evaluation, bool withRecordings) {
  std::vector<std::vector<std::string>> rows = {
      {"recording", "samples", "detections", "first", "code", "fall at", "delay ms", "outcome"}};
  for (const RecordingResult& result : evaluation.results) {
    if (!withRecordings) {
      break;
    }
    const bool readable = result.outcome != Outcome::Unreadable;
    const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text; };
    rows.push_back({result.path, readable ? std::to_string(result.samples) : "-",
                    readable ? std::to_string(result.detections) : "-",
                    orDash(numberText(result.firstIndex)),
                    result.firstIndex ? std::to_string(result.firstCode) : "-",
                    orDash(numberText(annotatedPosition(result))),
                    orDash(numberText(detectionDelayMs(result))), outcomeName(result.outcome)});
  }
  std::string text =
      withRecordings
          ? alignColumns(rows, {true, false, false, false, false, false, false, true}) + "\n"
          : std::string();
  text += settingsFilesLine(evaluation.provenance);
  text += "Settings: " + changedSettingsText(evaluation.settings) + "\n";
  text += "Early tolerance: " + doubleText(evaluation.toleranceSeconds) + " s (" +
          std::to_string(evaluation.toleranceSamples) + " samples)\n\n";
  text += formatSummaryBlock(evaluation.overall);
  if (evaluation.grouped()) {
    text += "\nPer group (" + describeGroupKeys(evaluation.groupKeys) + "; delay nearest rank):\n";
    text += formatGroupTable(evaluation.groups);
  }
  return text;
}

std::string formatRecordingsCsv(const Evaluation& evaluation) {
  std::string csv =
      "recording,samples,detections,first_index,first_code,fall_position,delay_ms,outcome,"
      "alarms,short_lines,group,problem,in_sample\n";
  for (const RecordingResult& result : evaluation.results) {
    const bool readable = result.outcome != Outcome::Unreadable;
    const auto field = [&](int64_t value) { return readable ? std::to_string(value) : ""; };
    csv += csvField(result.path) + "," + field(result.samples) + "," + field(result.detections) +
           "," + numberText(result.firstIndex) + "," +
           (result.firstIndex ? std::to_string(result.firstCode) : "") + "," +
           numberText(annotatedPosition(result)) + "," + numberText(detectionDelayMs(result)) +
           "," + outcomeName(result.outcome) + "," + field(result.alarms) + "," +
           field(result.shortLines) + "," +
           csvField(evaluation.grouped() ? groupLabel(result.group) : "") + "," +
           csvField(result.problem) + "," +
           (result.inSample ? (*result.inSample ? "true" : "false") : "") + "\n";
  }
  return csv;
}

std::string formatSummaryCsv(const Evaluation& evaluation) {
  std::string csv = "group,metric,value\n";
  const auto append = [&csv](const std::string& group, const EvalSummary& summary) {
    for (const auto& [metric, value] : summaryMetrics(summary)) {
      csv += csvField(group) + "," + metric + "," + value + "\n";
    }
  };
  append("", evaluation.overall);
  for (const GroupSummary& group : evaluation.groups) {
    append(groupLabel(group.group), group.summary);
  }
  return csv;
}

std::string formatAlarmsCsv(const Evaluation& evaluation) {
  std::string csv = "recording,position,time_s,length,code,not_early\n";
  for (const RecordingResult& result : evaluation.results) {
    if (result.outcome == Outcome::Unreadable) {
      continue;
    }
    for (const AlarmRun& run : result.alarmRuns) {
      const std::string notEarly =
          result.isFall
              ? (alarmInFallWindow(result, run, evaluation.toleranceSamples) ? "true" : "false")
              : "";
      csv +=
          csvField(result.path) + "," + std::to_string(run.position) + "," +
          doubleText(static_cast<double>(run.position) / static_cast<double>(kVelmoraSamplesPerSecond)) +
          "," + std::to_string(run.length) + "," + std::to_string(run.code) + "," + notEarly + "\n";
    }
  }
  return csv;
}

std::string formatJson(const Evaluation& evaluation) {
  return formatJsonValue(evaluationJson(evaluation)) + "\n";
}

}  // namespace velmora::evaluation
