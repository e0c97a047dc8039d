#include "TuneOutput.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "EvalRender.h"
#include "EvalSummary.h"
#include "Folds.h"
#include "HeldOut.h"
#include "ParetoFront.h"
#include "Provenance.h"
#include "SettingsTable.h"

namespace tune {

using velmora::evaluation::alignColumns;
using velmora::evaluation::doubleText;
using velmora::evaluation::fixedText;
using velmora::evaluation::EvalSummary;
using velmora::evaluation::Interval;

namespace {

// The summary metrics a tuning table has a column for: those of one
// evaluation's figures, not the delays or the codes of first detections,
// which differ in number from run to run, nor the in-sample count, which
// a tuning run does not know.
bool isTableMetric(const std::string& name) {
  return name.rfind("delay_", 0) != 0 && name.rfind("first_code_", 0) != 0 &&
         name != "in_sample_recordings";
}

std::string figuresText(const OutcomeCounts& summary) {
  return "sensitivity " + percentText(summary.sensitivity()) + " (" +
         std::to_string(summary.truePositives) + " of " + std::to_string(summary.fallRecordings()) +
         "), " + rateText(summary.falseAlarmsPerHour()) + " false alarms per hour (" +
         std::to_string(summary.dailyLivingAlarms) + " in " + fixedText(summary.dailyLivingHours(), 2) +
         " h)";
}

std::string intervalText(std::optional<Interval> interval, bool percent) {
  if (!interval) {
    return "";
  }
  return percent ? percentText(interval->low) + " to " + percentText(interval->high)
                 : fixedText(interval->low, 2) + " to " + fixedText(interval->high, 2);
}

// Figures with their 95 % intervals (and the by-person interval of the
// rate when there is one).
std::string figuresWithIntervals(const OutcomeCounts& summary,
                                 std::optional<Interval> rateByPerson = std::nullopt) {
  std::string text = "sensitivity " + percentText(summary.sensitivity()) + " (";
  if (const auto interval = summary.sensitivityInterval()) {
    text += "95% CI " + intervalText(interval, true) + "; ";
  }
  text += std::to_string(summary.truePositives) + " of " +
          std::to_string(summary.fallRecordings()) + "), " +
          rateText(summary.falseAlarmsPerHour()) + " false alarms per hour (";
  if (const auto interval = summary.falseAlarmsPerHourInterval()) {
    text += "95% CI " + intervalText(interval, false) + "; ";
  }
  if (rateByPerson) {
    text += "by person " + intervalText(rateByPerson, false) + "; ";
  }
  return text + std::to_string(summary.dailyLivingAlarms) + " in " +
         fixedText(summary.dailyLivingHours(), 2) + " h)";
}

// A group name comes from a file name and may hold any byte: escaped, so
// that it stays on its line in a report or a settings file's comment.
std::string personText(const PersonFigures& person) {
  return settingsComment(personName(person.group)) + " (fold " + std::to_string(person.fold + 1) +
         ")";
}

std::string dataLine(const OutcomeCounts& summary) {
  return std::to_string(summary.recordings) + " recordings (" +
         std::to_string(summary.fallRecordings()) + " fall, " +
         std::to_string(summary.dailyLivingRecordings()) + " daily-living, " +
         std::to_string(summary.unreadable) + " unreadable; " +
         fixedText(summary.dailyLivingHours(), 2) + " h of daily living)";
}

std::string changedSettings(const DetectorSettings& settings, const DetectorSettings& reference) {
  std::string text;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    if (settings.*(field.member) != reference.*(field.member)) {
      text += text.empty() ? "" : ", ";
      text += std::string(field.name) + "=" + std::to_string(settings.*(field.member)) + " (was " +
              std::to_string(reference.*(field.member)) + ")";
    }
  }
  return text.empty() ? "none" : text;
}

DetectorSettings finalSettings(const SearchResults& results) {
  const auto& last = results.searches.back();
  const Trial& best = last->outcome.trials[*last->outcome.best];
  return applyLevels(results.config.space, best.levels, results.config.base);
}

}  // namespace

std::string percentText(std::optional<double> fraction) {
  return velmora::evaluation::percentText(fraction);
}

std::string rateText(std::optional<double> perHour) {
  return perHour ? fixedText(*perHour, 2) : std::string("n/a");
}

std::string csvText(const std::string& field) { return velmora::evaluation::csvField(field); }

std::vector<std::string> summaryColumnNames() {
  std::vector<std::string> names;
  for (const auto& [name, value] : velmora::evaluation::summaryMetrics(EvalSummary{})) {
    if (isTableMetric(name)) {
      names.push_back(name);
    }
  }
  return names;
}

std::vector<std::string> summaryColumnValues(const OutcomeCounts& counts) {
  std::vector<std::string> values;
  for (const auto& [name, value] : velmora::evaluation::summaryMetrics(EvalSummary(counts))) {
    if (isTableMetric(name)) {
      values.push_back(value);
    }
  }
  return values;
}

namespace {

// The index into results.points of the most sensitive front point within
// the budget, as the figure circles it; results.points.size() when there is
// no budget or no such point.
std::size_t bestSweepPoint(const SweepResults& results, std::optional<double> budget) {
  if (!budget) {
    return results.points.size();
  }
  std::vector<std::size_t> kept;
  const std::vector<RocPoint> points = sweepRocPoints(results, kept);
  const std::optional<std::size_t> best = bestWithinBudget(points, paretoFront(points), *budget);
  return best ? kept[*best] : results.points.size();
}

}  // namespace

std::string sweepTable(const SweepResults& results, std::optional<double> budget) {
  std::string text;
  const OutcomeCounts any = results.baseCounts       ? *results.baseCounts
                     : results.points.empty() ? OutcomeCounts{}
                                              : results.points.front().counts;
  text +=
      "Sweep of " + std::to_string(results.points.size()) + " points over " + dataLine(any) + "\n";
  std::vector<std::size_t> kept;
  const std::vector<RocPoint> points = sweepRocPoints(results, kept);
  std::vector<bool> onFront(results.points.size(), false);
  for (const std::size_t index : paretoFront(points)) {
    onFront[kept[index]] = true;
  }
  const std::size_t best = bestSweepPoint(results, budget);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header;
  for (const Dimension& dimension : results.space) {
    header.push_back(dimension.name());
  }
  for (const char* name : {"sensitivity", "specificity", "fa/h", "tp", "missed", "early",
                           "false_alarm", "tn", "front"}) {
    header.push_back(name);
  }
  rows.push_back(header);
  const auto figures = [](std::vector<std::string>& row, const OutcomeCounts& s) {
    row.push_back(percentText(s.sensitivity()));
    row.push_back(percentText(s.specificity()));
    row.push_back(rateText(s.falseAlarmsPerHour()));
    for (const int64_t n :
         {s.truePositives, s.missed, s.earlyAlarms, s.falseAlarms, s.trueNegatives}) {
      row.push_back(std::to_string(n));
    }
  };
  for (std::size_t i = 0; i < results.points.size(); ++i) {
    std::vector<std::string> row;
    const Levels levels = gridLevels(results.space, results.points[i].index);
    for (std::size_t d = 0; d < results.space.size(); ++d) {
      row.push_back(std::to_string(results.space[d].valueAt(levels[d])));
    }
    figures(row, results.points[i].counts);
    row.push_back(best == i ? "* best" : onFront[i] ? "*" : "");
    rows.push_back(row);
  }
  std::vector<bool> left(header.size(), false);
  left.back() = true;
  text += alignColumns(rows, left);
  if (results.baseCounts) {
    text += "Base settings: " + figuresText(*results.baseCounts) + "\n";
  }
  text += "* on the front: no other point has a higher sensitivity with as few false alarms.\n";
  if (budget) {
    text += "Budget: at most " + doubleText(*budget) + " false alarms per hour; ";
    if (best < results.points.size()) {
      const OutcomeCounts& s = results.points[best].counts;
      text += "best within it (* best): sensitivity " + percentText(s.sensitivity()) + ", " +
              rateText(s.falseAlarmsPerHour()) + " false alarms per hour.\n";
    } else {
      text += "no point with falls and daily living keeps within it.\n";
    }
  }
  return text;
}

std::string sweepCsv(const SweepResults& results, std::optional<double> budget) {
  std::string csv;
  std::vector<std::string> header;
  for (const Dimension& dimension : results.space) {
    header.push_back(dimension.name());
  }
  for (const std::string& name : summaryColumnNames()) {
    header.push_back(name);
  }
  const std::size_t best = bestSweepPoint(results, budget);
  if (budget) {
    header.insert(header.end(), {"within_limit", "best"});
  }
  const auto line = [&](const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      csv += (i == 0 ? "" : ",") + csvText(fields[i]);
    }
    csv += "\n";
  };
  line(header);
  for (std::size_t i = 0; i < results.points.size(); ++i) {
    const SweepPointResult& point = results.points[i];
    std::vector<std::string> fields;
    const Levels levels = gridLevels(results.space, point.index);
    for (std::size_t d = 0; d < results.space.size(); ++d) {
      fields.push_back(std::to_string(results.space[d].valueAt(levels[d])));
    }
    for (const std::string& value : summaryColumnValues(point.counts)) {
      fields.push_back(value);
    }
    if (budget) {
      const std::optional<double> perHour = point.counts.falseAlarmsPerHour();
      fields.push_back(perHour && *perHour <= *budget ? "1" : "0");
      fields.push_back(i == best ? "1" : "0");
    }
    line(fields);
  }
  return csv;
}

OutcomeCounts pooledHeldOut(const SearchResults& results) { return heldOutFigures(results).pooled; }

bool searchSucceeded(const SearchResults& results) {
  return std::all_of(results.searches.begin(), results.searches.end(),
                     [](const auto& search) { return search && search->outcome.best.has_value(); });
}

bool searchOverBudget(const SearchResults& results) { return heldOutFigures(results).overBudget; }

std::vector<std::string> budgetWarning(const SearchResults& results) {
  const HeldOutFigures figures = heldOutFigures(results);
  if (!figures.overBudget) {
    return {};
  }
  const OutcomeCounts& pooled = figures.pooled;
  std::vector<std::string> lines = {
      "WARNING: these settings are unlikely to hold the budget of " +
          doubleText(results.config.maxFalseAlarmsPerHour) +
          " false alarms per hour on new people.",
      "  Held out, people the search never saw had " + rateText(pooled.falseAlarmsPerHour()) +
          " false alarms per hour (95% CI " +
          intervalText(pooled.falseAlarmsPerHourInterval(), false) +
          (figures.rateByPerson ? "; by person " + intervalText(figures.rateByPerson, false) : "") +
          ").",
      "  The budget held in " + std::to_string(figures.foldsWithinBudget) + " of " +
          std::to_string(results.folds) + " folds."};
  if (figures.mostFalseAlarms) {
    const PersonFigures& worst = figures.people[*figures.mostFalseAlarms];
    lines.back() += " Worst person: " + personText(worst) + ", " +
                    rateText(worst.counts.falseAlarmsPerHour()) + " per hour.";
  }
  lines.push_back(
      "  The training figures overstate what new people will see: choose a lower budget, "
      "search fewer settings, or tune on more people.");
  return lines;
}

std::string searchReport(const SearchResults& results) {
  const SearchConfig& config = results.config;
  const HeldOutFigures figures = heldOutFigures(results);
  std::string text;
  text += "Search of " + std::to_string(config.space.size()) + " settings, " +
          std::to_string(config.trials) + " candidates per search, seed " +
          std::to_string(results.seed) + ", false alarms per hour at most " +
          doubleText(config.maxFalseAlarmsPerHour) + ", selection " + selectionText(config.rule) +
          (config.maxMoved > 0 ? ", at most " + std::to_string(config.maxMoved) + " settings moved"
                               : std::string()) +
          "\n";
  if (results.baseCounts) {
    text += "Data: " + dataLine(*results.baseCounts) + "\n";
  }
  text += "Folds by " + foldKeyText(results.groupKey) + " (held-out figures with 95% intervals):\n";
  std::vector<std::vector<std::string>> rows = {
      {"fold", "held-out groups", "train sens", "train fa/h", "held-out sens", "95% CI",
       "held-out fa/h", "95% CI", "within", "base sens", "base fa/h"}};
  for (int f = 0; f < results.folds; ++f) {
    const auto& search = results.searches[static_cast<std::size_t>(f)];
    std::vector<std::string> row = {std::to_string(f + 1), ""};
    for (const std::string& group : results.foldGroups[static_cast<std::size_t>(f)]) {
      row[1] += (row[1].empty() ? "" : " ") + settingsComment(personName(group));
    }
    if (search && search->outcome.best && search->heldOut) {
      const OutcomeCounts& train = search->outcome.trials[*search->outcome.best].counts;
      const OutcomeCounts& held = *search->heldOut;
      const std::optional<double> perHour = held.falseAlarmsPerHour();
      row.push_back(percentText(train.sensitivity()));
      row.push_back(rateText(train.falseAlarmsPerHour()));
      row.push_back(percentText(held.sensitivity()));
      row.push_back(intervalText(held.sensitivityInterval(), true));
      row.push_back(rateText(perHour));
      row.push_back(intervalText(held.falseAlarmsPerHourInterval(), false));
      row.push_back(!perHour ? "n/a" : *perHour <= config.maxFalseAlarmsPerHour ? "yes" : "no");
    } else {
      row.insert(row.end(), {"none within the limit", "", "", "", "", "", ""});
    }
    if (search && search->baseHeldOut) {
      row.push_back(percentText(search->baseHeldOut->sensitivity()));
      row.push_back(rateText(search->baseHeldOut->falseAlarmsPerHour()));
    }
    rows.push_back(row);
  }
  text += alignColumns(rows,
                       {false, true, false, false, false, false, false, false, true, false, false});
  if (!figures.people.empty()) {
    text += "Per person held out:\n";
    std::vector<std::vector<std::string>> people = {
        {"person", "fold", "sens", "tp", "falls", "fa/h", "alarms", "hours"}};
    for (const PersonFigures& person : figures.people) {
      const OutcomeCounts& s = person.counts;
      people.push_back({settingsComment(personName(person.group)), std::to_string(person.fold + 1),
                        percentText(s.sensitivity()), std::to_string(s.truePositives),
                        std::to_string(s.fallRecordings()), rateText(s.falseAlarmsPerHour()),
                        std::to_string(s.dailyLivingAlarms), fixedText(s.dailyLivingHours(), 2)});
    }
    text += alignColumns(people, {true, false, false, false, false, false, false, false});
    text += "Median person: sensitivity " + percentText(figures.medianSensitivity) + ", " +
            rateText(figures.medianFalseAlarmsPerHour) + " false alarms per hour\n";
    if (figures.mostFalseAlarms) {
      const PersonFigures& worst = figures.people[*figures.mostFalseAlarms];
      text += "Most false alarms: " + personText(worst) + ", " +
              rateText(worst.counts.falseAlarmsPerHour()) + " per hour\n";
    } else {
      text += "Most false alarms: none held out had any\n";
    }
    if (figures.lowestSensitivity) {
      const PersonFigures& worst = figures.people[*figures.lowestSensitivity];
      text += "Lowest sensitivity: " + personText(worst) + ", " +
              percentText(worst.counts.sensitivity()) + "\n";
    }
  }
  text += "Pooled held-out (the estimate for new people): " +
          figuresWithIntervals(figures.pooled, figures.rateByPerson) + "\n";
  text += "Folds within the budget: " + std::to_string(figures.foldsWithinBudget) + " of " +
          std::to_string(results.folds) + "\n";
  if (results.baseCounts) {
    text += "Base settings on the same data: " + figuresText(*results.baseCounts) + "\n";
  }
  const auto& last = results.searches.back();
  if (last && last->outcome.best) {
    text += "Final search on all data (training figures, optimistic): " +
            figuresText(last->outcome.trials[*last->outcome.best].counts) + "\n";
    text +=
        "Changed from the base settings: " + changedSettings(finalSettings(results), config.base) +
        "\n";
  }
  if (!searchSucceeded(results)) {
    text += "No candidate kept the false alarms at or below " +
            doubleText(config.maxFalseAlarmsPerHour) +
            " per hour in every search; no settings file is written.\n";
  }
  for (const std::string& line : budgetWarning(results)) {
    text += line + "\n";
  }
  return text;
}

std::string searchTrialsCsv(const SearchResults& results) {
  std::string csv = "search,trial";
  for (const Dimension& dimension : results.config.space) {
    csv += "," + csvText(dimension.name());
  }
  for (const std::string& name : summaryColumnNames()) {
    csv += "," + name;
  }
  csv += ",within_limit,best\n";
  for (std::size_t s = 0; s < results.searches.size(); ++s) {
    const auto& search = results.searches[s];
    if (!search) {
      continue;
    }
    const std::string label =
        s < static_cast<std::size_t>(results.folds) ? std::to_string(s + 1) : "all";
    for (std::size_t t = 0; t < search->outcome.trials.size(); ++t) {
      const Trial& trial = search->outcome.trials[t];
      csv += label + "," + std::to_string(t);
      for (std::size_t d = 0; d < results.config.space.size(); ++d) {
        csv += "," + std::to_string(results.config.space[d].valueAt(trial.levels[d]));
      }
      for (const std::string& value : summaryColumnValues(trial.counts)) {
        csv += "," + value;
      }
      csv += std::string(",") + (trial.feasible ? "1" : "0") + "," +
             (search->outcome.best == t ? "1" : "0") + "\n";
    }
  }
  return csv;
}

std::string searchSettingsFile(const SearchResults& results, const std::string& command) {
  if (!searchSucceeded(results)) {
    return {};
  }
  const auto& last = results.searches.back();
  std::string text;
  text += "# Settings found by velmora-tune search.\n";
  text += "# Command: " + settingsComment(command) + "\n";
  text += "# Seed " + std::to_string(results.seed) + ", " + std::to_string(results.config.trials) +
          " candidates per search, false alarms per hour at most " +
          doubleText(results.config.maxFalseAlarmsPerHour) + ", selection " +
          selectionText(results.config.rule) +
          (results.config.maxMoved > 0
               ? ", at most " + std::to_string(results.config.maxMoved) + " settings moved"
               : std::string()) +
          ".\n";
  const HeldOutFigures figures = heldOutFigures(results);
  text += "# Cross-validated over " + std::to_string(results.folds) + " folds by " +
          settingsComment(foldKeyText(results.groupKey)) + ", pooled held-out figures:\n";
  text += "#   " + figuresWithIntervals(figures.pooled, figures.rateByPerson) + "\n";
  text += "#   folds within the budget: " + std::to_string(figures.foldsWithinBudget) + " of " +
          std::to_string(results.folds) + "; median person: sensitivity " +
          percentText(figures.medianSensitivity) + ", " +
          rateText(figures.medianFalseAlarmsPerHour) + " false alarms per hour\n";
  if (figures.mostFalseAlarms) {
    const PersonFigures& worst = figures.people[*figures.mostFalseAlarms];
    text += "#   most false alarms: " + personText(worst) + ", " +
            rateText(worst.counts.falseAlarmsPerHour()) + " per hour\n";
  }
  if (figures.lowestSensitivity) {
    const PersonFigures& worst = figures.people[*figures.lowestSensitivity];
    text += "#   lowest sensitivity: " + personText(worst) + ", " +
            percentText(worst.counts.sensitivity()) + "\n";
  }
  for (const std::string& line : budgetWarning(results)) {
    text += "# " + line + "\n";
  }
  if (results.baseCounts) {
    text += "# Base settings on the same data:\n#   " + figuresText(*results.baseCounts) + "\n";
  }
  text += "# This result on all data (training figures, optimistic):\n#   " +
          figuresText(last->outcome.trials[*last->outcome.best].counts) + "\n";
  text += "# Changed from the base settings: " +
          changedSettings(finalSettings(results), results.config.base) + "\n";
  text += formatSettings(finalSettings(results));
  text += velmora::evaluation::formatTunedOn(results.tunedOn);
  return text;
}

}  // namespace tune
