#include "EvalReport.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "SettingsTable.h"

namespace {

std::string numberText(std::optional<int64_t> value) {
  return value ? std::to_string(*value) : std::string();
}

// The shortest text that reads back as the same double.
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

std::string fixedText(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// Only a readable fall recording has a position worth showing: after a
// failed read of its info file the position is a placeholder.
std::optional<int64_t> annotatedPosition(const RecordingResult& result) {
  if (!result.isFall || result.outcome == Outcome::Unreadable) {
    return std::nullopt;
  }
  return result.fallPosition;
}

std::string jsonInteger(std::optional<int64_t> value) {
  return value ? std::to_string(*value) : std::string("null");
}

std::string groupLabel(const std::string& group) {
  return group.empty() ? kUnmatchedGroupName : group;
}

// Pads every column to its widest cell: left-aligned where `left` says so,
// right-aligned otherwise.
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

std::string changedSettingsText(const DetectorSettings& settings) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  std::string text;
  for (const SettingField& field : settingFields()) {
    if (settings.*(field.member) != defaults.*(field.member)) {
      text += text.empty() ? "" : ", ";
      text += std::string(field.name) + "=" + std::to_string(settings.*(field.member)) +
              " (default " + std::to_string(defaults.*(field.member)) + ")";
    }
  }
  return text.empty() ? "defaults" : text;
}

std::string delayText(const EvalSummary& summary) {
  if (summary.delaysMs.empty()) {
    return "-";
  }
  return numberText(summary.delayPercentileMs(50)) + " / " +
         numberText(summary.delayPercentileMs(90)) + " / " +
         numberText(summary.delayPercentileMs(100));
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
               count(summary.fallRecordings(), "fall recording", "fall recordings") + ")"},
          {"Specificity", percentText(summary.specificity()),
           "(" + std::to_string(summary.trueNegatives) + " of " +
               count(summary.dailyLivingRecordings(), "daily-living recording",
                     "daily-living recordings") +
               ")"},
          {"Accuracy", percentText(summary.accuracy()),
           "(" + std::to_string(summary.truePositives + summary.trueNegatives) + " of " +
               count(summary.fallRecordings() + summary.dailyLivingRecordings(),
                     "readable recording", "readable recordings") +
               ")"},
      },
      {true, false, true});
  const std::optional<double> perHour = summary.falseAlarmsPerHour();
  text += "False alarms per hour of daily-living data: " +
          (perHour ? fixedText(*perHour, 2) : std::string("n/a")) + " (" +
          count(summary.dailyLivingAlarms, "alarm", "alarms") + " in " +
          fixedText(summary.dailyLivingHours(), 3) + " h)\n";
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

void appendJsonSummary(std::string& json, const EvalSummary& summary, const std::string& indent) {
  const auto optionalNumber = [](std::optional<double> value) {
    return value ? doubleText(*value) : std::string("null");
  };
  json += "{\n";
  json += indent + "  \"recordings\": " + std::to_string(summary.recordings) + ",\n";
  json += indent + "  \"unreadable\": " + std::to_string(summary.unreadable) + ",\n";
  json += indent + "  \"fall_recordings\": " + std::to_string(summary.fallRecordings()) + ",\n";
  json += indent +
          "  \"daily_living_recordings\": " + std::to_string(summary.dailyLivingRecordings()) +
          ",\n";
  json += indent + "  \"outcomes\": {\"tp\": " + std::to_string(summary.truePositives) +
          ", \"missed\": " + std::to_string(summary.missed) +
          ", \"early\": " + std::to_string(summary.earlyAlarms) +
          ", \"false_alarm\": " + std::to_string(summary.falseAlarms) +
          ", \"tn\": " + std::to_string(summary.trueNegatives) + "},\n";
  json += indent + "  \"sensitivity\": " + optionalNumber(summary.sensitivity()) + ",\n";
  json += indent + "  \"specificity\": " + optionalNumber(summary.specificity()) + ",\n";
  json += indent + "  \"accuracy\": " + optionalNumber(summary.accuracy()) + ",\n";
  json += indent + "  \"daily_living_hours\": " + doubleText(summary.dailyLivingHours()) + ",\n";
  json +=
      indent + "  \"daily_living_alarms\": " + std::to_string(summary.dailyLivingAlarms) + ",\n";
  json += indent + "  \"false_alarms_per_hour\": " + optionalNumber(summary.falseAlarmsPerHour()) +
          ",\n";
  json += indent + "  \"delay_ms\": {\"count\": " + std::to_string(summary.delaysMs.size()) +
          ", \"median\": " + jsonInteger(summary.delayPercentileMs(50)) +
          ", \"p90\": " + jsonInteger(summary.delayPercentileMs(90)) +
          ", \"max\": " + jsonInteger(summary.delayPercentileMs(100)) + "},\n";
  json += indent + "  \"first_codes\": [";
  for (std::size_t i = 0; i < summary.firstCodes.size(); ++i) {
    const CodeCount& code = summary.firstCodes[i];
    json += (i == 0 ? "" : ", ");
    json += "{\"code\": " + std::to_string(code.code) +
            ", \"fall\": " + std::to_string(code.fallRecordings) +
            ", \"daily_living\": " + std::to_string(code.dailyLivingRecordings) + "}";
  }
  json += "]\n" + indent + "}";
}

void appendSummaryCsv(std::string& csv, const std::string& group, const EvalSummary& summary) {
  const auto line = [&](const std::string& metric, const std::string& value) {
    csv += csvField(group) + "," + metric + "," + value + "\n";
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
  line("sensitivity", optionalNumber(summary.sensitivity()));
  line("specificity", optionalNumber(summary.specificity()));
  line("accuracy", optionalNumber(summary.accuracy()));
  line("daily_living_hours", doubleText(summary.dailyLivingHours()));
  line("daily_living_alarms", std::to_string(summary.dailyLivingAlarms));
  line("false_alarms_per_hour", optionalNumber(summary.falseAlarmsPerHour()));
  line("delay_count", std::to_string(summary.delaysMs.size()));
  line("delay_median_ms", numberText(summary.delayPercentileMs(50)));
  line("delay_p90_ms", numberText(summary.delayPercentileMs(90)));
  line("delay_max_ms", numberText(summary.delayPercentileMs(100)));
  for (const CodeCount& code : summary.firstCodes) {
    line("first_code_" + std::to_string(code.code) + "_fall", std::to_string(code.fallRecordings));
    line("first_code_" + std::to_string(code.code) + "_daily_living",
         std::to_string(code.dailyLivingRecordings));
  }
}

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
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
      const std::size_t length = utf8SequenceLength(text, i);
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

std::string formatTable(const EvalReport& report) {
  std::vector<std::vector<std::string>> rows = {
      {"recording", "samples", "detections", "first", "code", "fall at", "delay ms", "outcome"}};
  for (const RecordingResult& result : report.results) {
    const bool readable = result.outcome != Outcome::Unreadable;
    const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text; };
    rows.push_back({result.path, readable ? std::to_string(result.samples) : "-",
                    readable ? std::to_string(result.detections) : "-",
                    orDash(numberText(result.firstIndex)),
                    result.firstIndex ? std::to_string(result.firstCode) : "-",
                    orDash(numberText(annotatedPosition(result))),
                    orDash(numberText(detectionDelayMs(result))), outcomeName(result.outcome)});
  }
  std::string text = alignColumns(rows, {true, false, false, false, false, false, false, true});
  text += "\nSettings: " + changedSettingsText(report.settings) + "\n";
  text += "Early tolerance: " + doubleText(report.toleranceSeconds) + " s (" +
          std::to_string(report.toleranceSamples) + " samples)\n\n";
  text += formatSummaryBlock(report.overall);
  if (!report.groupPattern.empty()) {
    text += "\nPer group (first capture group of '" + report.groupPattern +
            "' in the file name; delay nearest rank):\n";
    text += formatGroupTable(report.groups);
  }
  return text;
}

std::string formatRecordingsCsv(const EvalReport& report) {
  std::string csv =
      "recording,samples,detections,first_index,first_code,fall_position,delay_ms,outcome,"
      "alarms,short_lines,group,problem\n";
  for (const RecordingResult& result : report.results) {
    const bool readable = result.outcome != Outcome::Unreadable;
    const auto field = [&](int64_t value) { return readable ? std::to_string(value) : ""; };
    csv += csvField(result.path) + "," + field(result.samples) + "," + field(result.detections) +
           "," + numberText(result.firstIndex) + "," +
           (result.firstIndex ? std::to_string(result.firstCode) : "") + "," +
           numberText(annotatedPosition(result)) + "," + numberText(detectionDelayMs(result)) +
           "," + outcomeName(result.outcome) + "," + field(result.alarms) + "," +
           field(result.shortLines) + "," +
           csvField(report.groupPattern.empty() ? "" : groupLabel(result.group)) + "," +
           csvField(result.problem) + "\n";
  }
  return csv;
}

std::string formatSummaryCsv(const EvalReport& report) {
  std::string csv = "group,metric,value\n";
  appendSummaryCsv(csv, "", report.overall);
  for (const GroupSummary& group : report.groups) {
    appendSummaryCsv(csv, groupLabel(group.group), group.summary);
  }
  return csv;
}

std::string formatJson(const EvalReport& report) {
  std::string json = "{\n";
  json += "  \"version\": " + jsonString(VelmoraGetVersion()) + ",\n";
  json += "  \"early_tolerance_seconds\": " + doubleText(report.toleranceSeconds) + ",\n";
  json += "  \"early_tolerance_samples\": " + std::to_string(report.toleranceSamples) + ",\n";
  json += "  \"settings\": {";
  bool first = true;
  for (const SettingField& field : settingFields()) {
    json += first ? "" : ", ";
    json += jsonString(field.name) + ": " + std::to_string(report.settings.*(field.member));
    first = false;
  }
  json += "},\n";
  if (!report.groupPattern.empty()) {
    json += "  \"group_by\": " + jsonString(report.groupPattern) + ",\n";
  }
  json += "  \"recordings\": [";
  for (std::size_t i = 0; i < report.results.size(); ++i) {
    const RecordingResult& result = report.results[i];
    const bool readable = result.outcome != Outcome::Unreadable;
    const auto field = [&](int64_t value) {
      return readable ? std::to_string(value) : std::string("null");
    };
    const std::optional<int64_t> delay = detectionDelayMs(result);
    json += i == 0 ? "\n" : ",\n";
    json += "    {\"recording\": " + jsonString(result.path) +
            ", \"samples\": " + field(result.samples) +
            ", \"detections\": " + field(result.detections) +
            ", \"first_index\": " + jsonInteger(result.firstIndex) +
            ", \"first_code\": " + (result.firstIndex ? std::to_string(result.firstCode) : "null") +
            ", \"fall_position\": " + jsonInteger(annotatedPosition(result)) +
            ", \"delay_ms\": " + jsonInteger(delay) +
            ", \"outcome\": " + jsonString(outcomeName(result.outcome)) +
            ", \"alarms\": " + field(result.alarms) +
            ", \"short_lines\": " + field(result.shortLines);
    if (!report.groupPattern.empty()) {
      json += ", \"group\": " + (result.group.empty() ? "null" : jsonString(result.group));
    }
    json +=
        ", \"problem\": " + (result.problem.empty() ? "null" : jsonString(result.problem)) + "}";
  }
  json += report.results.empty() ? "],\n" : "\n  ],\n";
  json += "  \"summary\": ";
  appendJsonSummary(json, report.overall, "  ");
  if (!report.groupPattern.empty()) {
    json += ",\n  \"groups\": [";
    for (std::size_t i = 0; i < report.groups.size(); ++i) {
      const GroupSummary& group = report.groups[i];
      json += i == 0 ? "\n" : ",\n";
      json += "    {\"group\": " + (group.group.empty() ? "null" : jsonString(group.group)) +
              ", \"summary\": ";
      appendJsonSummary(json, group.summary, "    ");
      json += "}";
    }
    json += report.groups.empty() ? "]" : "\n  ]";
  }
  json += "\n}\n";
  return json;
}
