// velmora-tune compare: every recording's outcome under two settings.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "EvalJudge.h"
#include "EvalSummary.h"
#include "SettingsTable.h"
#include "TuneCommands.h"
#include "TuneOutput.h"
#include "TuneRun.h"

namespace tune::tool {

using velmora::evaluation::EvalSummary;
using velmora::evaluation::Outcome;
using velmora::evaluation::outcomeName;
using velmora::evaluation::RecordingResult;
using velmora::evaluation::summarise;

namespace {

// Applies one side's settings files and one-off changes over the base.
std::string sideSettings(const std::vector<std::pair<bool, std::string>>& changes,
                         DetectorSettings& settings) {
  for (const auto& [isFile, text] : changes) {
    std::string error = isFile ? applySettingsFile(settings, text) : applySetting(settings, text);
    if (!error.empty()) {
      return error;
    }
  }
  return VelmoraCheckSettings(settings);
}

std::string firstText(const RecordingResult& result) {
  if (result.outcome == Outcome::Unreadable) {
    return "-";
  }
  return result.firstIndex ? std::to_string(*result.firstIndex) + " (code " +
                                 std::to_string(result.firstCode) + ")"
                           : "none";
}

}  // namespace

int compareCommand(const Options& options) {
  DetectorSettings a = options.settings;
  DetectorSettings b = options.settings;
  if (std::string error = sideSettings(options.aChanges, a); !error.empty()) {
    return usageError("side A: " + error);
  }
  if (std::string error = sideSettings(options.bChanges, b); !error.empty()) {
    return usageError("side B: " + error);
  }
  if (std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  Data data;
  if (const int status = loadData(options, data); status >= 0) {
    return status;
  }
  const auto tallies = evaluateCandidates(data.cache, data.all, {a, b}, data.jobs);
  const std::vector<RecordingResult> resultsA =
      judgeTallies(data.cache, data.all, tallies[0], data.toleranceSamples);
  const std::vector<RecordingResult> resultsB =
      judgeTallies(data.cache, data.all, tallies[1], data.toleranceSamples);
  int status = reportProblems(data.problems);

  const Outcome kOrder[] = {Outcome::TruePositive, Outcome::Missed,       Outcome::EarlyAlarm,
                            Outcome::FalseAlarm,   Outcome::TrueNegative, Outcome::Unreadable};
  const auto slot = [&](Outcome outcome) {
    return static_cast<std::size_t>(std::find(std::begin(kOrder), std::end(kOrder), outcome) -
                                    std::begin(kOrder));
  };
  int64_t table[6][6] = {};
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < resultsA.size(); ++i) {
    ++table[slot(resultsA[i].outcome)][slot(resultsB[i].outcome)];
    if (resultsA[i].outcome != resultsB[i].outcome ||
        resultsA[i].firstIndex != resultsB[i].firstIndex ||
        resultsA[i].firstCode != resultsB[i].firstCode) {
      changed.push_back(i);
    }
  }
  std::string text = "Outcomes under A (rows) and B (columns), " + std::to_string(resultsA.size()) +
                     " recordings:\n";
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"A \\ B"});
  for (const Outcome outcome : kOrder) {
    rows.back().push_back(outcomeName(outcome));
  }
  for (const Outcome from : kOrder) {
    std::vector<std::string> row = {outcomeName(from)};
    for (const Outcome to : kOrder) {
      row.push_back(std::to_string(table[slot(from)][slot(to)]));
    }
    rows.push_back(row);
  }
  const auto align = [](const std::vector<std::vector<std::string>>& cells,
                        std::size_t leftColumns) {
    std::vector<std::size_t> widths;
    for (const auto& row : cells) {
      widths.resize(std::max(widths.size(), row.size()), 0);
      for (std::size_t c = 0; c < row.size(); ++c) {
        widths[c] = std::max(widths[c], row[c].size());
      }
    }
    std::string out;
    for (const auto& row : cells) {
      std::string line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string pad(widths[c] - row[c].size(), ' ');
        line += (c == 0 ? "" : "  ") + (c < leftColumns ? row[c] + pad : pad + row[c]);
      }
      while (!line.empty() && line.back() == ' ') {
        line.pop_back();
      }
      out += "  " + line + "\n";
    }
    return out;
  };
  text += align(rows, 1);
  text += "Recordings whose outcome or first detection changed: " + std::to_string(changed.size()) +
          "\n";
  if (!changed.empty()) {
    std::vector<std::vector<std::string>> list = {{"recording", "A", "A first", "B", "B first"}};
    for (const std::size_t i : changed) {
      list.push_back({resultsA[i].path, outcomeName(resultsA[i].outcome), firstText(resultsA[i]),
                      outcomeName(resultsB[i].outcome), firstText(resultsB[i])});
    }
    text += align(list, 5);
  }
  const EvalSummary summaryA = summarise(resultsA);
  const EvalSummary summaryB = summarise(resultsB);
  std::vector<std::vector<std::string>> figures = {{"", "A", "B"}};
  const auto add = [&](const std::string& name, const std::string& x, const std::string& y) {
    figures.push_back({name, x, y});
  };
  add("sensitivity", percentText(summaryA.sensitivity()), percentText(summaryB.sensitivity()));
  add("specificity", percentText(summaryA.specificity()), percentText(summaryB.specificity()));
  add("accuracy", percentText(summaryA.accuracy()), percentText(summaryB.accuracy()));
  add("false alarms per hour", rateText(summaryA.falseAlarmsPerHour()),
      rateText(summaryB.falseAlarmsPerHour()));
  add("true positives", std::to_string(summaryA.truePositives),
      std::to_string(summaryB.truePositives));
  add("missed", std::to_string(summaryA.missed), std::to_string(summaryB.missed));
  add("early alarms", std::to_string(summaryA.earlyAlarms), std::to_string(summaryB.earlyAlarms));
  add("false alarms", std::to_string(summaryA.falseAlarms), std::to_string(summaryB.falseAlarms));
  add("true negatives", std::to_string(summaryA.trueNegatives),
      std::to_string(summaryB.trueNegatives));
  add("daily-living alarms", std::to_string(summaryA.dailyLivingAlarms),
      std::to_string(summaryB.dailyLivingAlarms));
  text += "Summaries:\n" + align(figures, 1);
  if (options.csvPath != "-") {
    std::fputs(text.c_str(), stdout);
  }

  if (!options.csvPath.empty()) {
    std::string csv =
        "recording,a_outcome,a_first_index,a_first_code,b_outcome,b_first_index,"
        "b_first_code\n";
    const auto first = [](const RecordingResult& result) {
      return result.firstIndex
                 ? std::to_string(*result.firstIndex) + "," + std::to_string(result.firstCode)
                 : std::string(",");
    };
    for (const std::size_t i : changed) {
      csv += csvText(resultsA[i].path) + "," + outcomeName(resultsA[i].outcome) + "," +
             first(resultsA[i]) + "," + outcomeName(resultsB[i].outcome) + "," +
             first(resultsB[i]) + "\n";
    }
    status = std::max(status, writeFiles({{options.csvPath, csv}}));
  }
  return status;
}

}  // namespace tune::tool
