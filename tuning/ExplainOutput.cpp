#include "ExplainOutput.h"

#include <cmath>
#include <cstdio>

#include "TuneOutput.h"

namespace tune {

using velmora::evaluation::JsonValue;
using velmora::evaluation::outcomeName;

namespace {

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string gText(int32_t hundredths) { return fixed(hundredths / 100.0, 2) + " g"; }

std::string optionalDoubleText(std::optional<double> value) {
  return value ? velmora::evaluation::doubleText(*value) : std::string();
}

JsonValue optionalNumber(std::optional<double> value) { return JsonValue::fromOptional(value); }

std::string padRight(std::string text, std::size_t width) {
  // Width in characters, counting a UTF-8 sequence once.
  std::size_t shown = 0;
  for (const unsigned char c : text) {
    shown += (c & 0xC0) != 0x80 ? 1 : 0;
  }
  if (shown < width) {
    text.append(width - shown, ' ');
  }
  return text;
}

std::string padLeft(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string signedCount(int64_t value, char sign) {
  return value == 0 ? "0" : std::string(1, sign) + std::to_string(value);
}

// The per-hour change of the daily-living alarms a cost brings.
std::optional<double> perHourChange(const Explanation& explanation, const FixCost& cost) {
  const auto now = cost.counts.falseAlarmsPerHour();
  const auto was = explanation.baseCounts.falseAlarmsPerHour();
  if (!now || !was) {
    return std::nullopt;
  }
  return *now - *was;
}

}  // namespace

std::vector<std::string> explainCsvColumns() {
  return {"recording",
          "outcome",
          "setting",
          "side",
          "base_value",
          "fix_value",
          "falls_gained",
          "falls_lost",
          "false_alarms_added",
          "false_alarms_removed",
          "sensitivity",
          "false_alarms_per_hour"};
}

std::vector<CauseCount> countCauses(const Explanation& explanation) {
  std::vector<CauseCount> counts(kCauseCount);
  for (std::size_t i = 0; i < kCauseCount; ++i) {
    counts[i].cause = static_cast<Cause>(i);
  }
  for (const RecordingExplanation& error : explanation.errors) {
    CauseCount& count = counts[static_cast<std::size_t>(error.cause)];
    switch (error.outcome) {
      case Outcome::Missed:
        ++count.missed;
        break;
      case Outcome::EarlyAlarm:
        ++count.early;
        break;
      default:
        ++count.falseAlarms;
        break;
    }
  }
  return counts;
}

std::string describeCost(const Explanation& explanation, const FixCost& cost) {
  std::string text = signedCount(cost.fallsGained, '+') + " falls";
  if (cost.fallsLost > 0) {
    text += ", " + std::to_string(cost.fallsLost) + " lost";
  }
  const auto change = perHourChange(explanation, cost);
  text += ", " + (change ? (*change >= 0 ? "+" : "") + fixed(*change, 2) : std::string("n/a")) +
          " false alarms per hour";
  return text;
}

std::string describeSightText(const Sight& sight, const DetectorSettings& s, bool fall) {
  const auto at = [&](int64_t position) {
    return fixed(static_cast<double>(position - sight.anchor) / kVelmoraSamplesPerSecond, 2) + " s";
  };
  std::string text = std::string("Around the ") + (fall ? "fall" : "alarm") + ": peak " +
                     gText(sight.peakAcc) + " at " + at(sight.peakAccAt) + "; lowest smoothed " +
                     gText(sight.lowestAcc) + " (lowLevel " + gText(s.lowLevel) +
                     "); longest low run " + std::to_string(sight.longestLowRun) +
                     " samples smoothed, " + std::to_string(sight.longestRawRun) +
                     " raw as counted; fall length " + std::to_string(sight.longestFallLen) +
                     " of the " + std::to_string(sight.fallLenNeeded) + " avgWindow asks";
  if (sight.longestFallLen < sight.fallLenNeeded) {
    text +=
        " (short by " + std::to_string(sight.fallLenNeeded - sight.longestFallLen) + " samples)";
  }
  text += "; jump window open " + std::to_string(sight.jumpSamples) + " samples";
  if (sight.lowInJump > 0) {
    text += ", " + std::to_string(sight.lowInJump) + " of them low";
  }
  if (sight.samplesAfterPeak > 0) {
    text += "; after the peak " + std::to_string(sight.uprightAfterPeak) + " of " +
            std::to_string(sight.samplesAfterPeak) + " samples upright, roll up to " +
            std::to_string(sight.maxRollAfterPeak) + " deg, pitch " +
            std::to_string(sight.minPitchAfterPeak) + ".." +
            std::to_string(sight.maxPitchAfterPeak) + " deg";
  }
  return text + ".";
}

std::string explainText(const Explanation& explanation, const RecordingCache& cache,
                        std::size_t topFixes) {
  (void)cache;
  const OutcomeCounts& base = explanation.baseCounts;
  const EvalSummary summary = EvalSummary(base);
  std::string text;
  int64_t missed = 0;
  int64_t early = 0;
  int64_t falseAlarms = 0;
  std::size_t withFix = 0;
  for (const RecordingExplanation& error : explanation.errors) {
    missed += error.outcome == Outcome::Missed ? 1 : 0;
    early += error.outcome == Outcome::EarlyAlarm ? 1 : 0;
    falseAlarms += error.outcome == Outcome::FalseAlarm ? 1 : 0;
    withFix += error.fixes.empty() ? 0 : 1;
  }
  text += "Data: " + std::to_string(base.recordings) + " recordings (" +
          std::to_string(base.fallRecordings()) + " fall, " +
          std::to_string(summary.dailyLivingRecordings()) + " daily-living, " +
          std::to_string(base.unreadable) + " unreadable; " + fixed(summary.dailyLivingHours(), 2) +
          " h of daily living)\n";
  text += "Base settings: sensitivity " + percentText(base.sensitivity()) + " (" +
          std::to_string(base.truePositives) + " of " + std::to_string(base.fallRecordings()) +
          "), " + rateText(base.falseAlarmsPerHour()) + " false alarms per hour (" +
          std::to_string(base.dailyLivingAlarms) + ")\n";
  text += "Errors: " + std::to_string(explanation.errors.size()) + " (" + std::to_string(missed) +
          " missed, " + std::to_string(early) + " early, " + std::to_string(falseAlarms) +
          " false alarms); " + std::to_string(withFix) +
          " can be made right by changing one setting of the " +
          std::to_string(explanation.space.size()) + " in the space\n\n";

  // Misses and alarms by the setting of their nearest single fix.
  const std::vector<CauseCount> causes = countCauses(explanation);
  if (missed > 0) {
    text += "Missed falls by nearest cause:\n";
    text += padRight("cause", 36) + padLeft("missed", 7) + "  settings of the nearest fix\n";
    for (const CauseCount& count : causes) {
      if (count.missed > 0) {
        text += padRight(causeWords(count.cause), 36) + padLeft(std::to_string(count.missed), 7) +
                "  " + causeSettings(count.cause) + "\n";
      }
    }
  }
  if (early + falseAlarms > 0) {
    text += std::string(missed > 0 ? "\n" : "") + "Early and false alarms by nearest cause:\n";
    text += padRight("cause", 36) + padLeft("early", 7) + padLeft("false_alarm", 12) +
            "  settings of the nearest fix\n";
    for (const CauseCount& count : causes) {
      if (count.early + count.falseAlarms > 0) {
        text += padRight(causeAlarmWords(count.cause), 36) +
                padLeft(std::to_string(count.early), 7) +
                padLeft(std::to_string(count.falseAlarms), 12) + "  " + causeSettings(count.cause) +
                "\n";
      }
    }
  }

  // The best fixes, then the best value of each setting: the first list
  // often holds neighbouring values of one setting.
  std::vector<std::size_t> perSetting;
  std::vector<bool> seen(explanation.space.size(), false);
  for (const std::size_t index : explanation.ranking) {
    const std::size_t d = explanation.costs[index].dimension;
    if (!seen[d]) {
      seen[d] = true;
      perSetting.push_back(index);
    }
  }
  for (const bool bySetting : {false, true}) {
    const std::vector<std::size_t>& order = bySetting ? perSetting : explanation.ranking;
    text += bySetting ? "\nBest value of each setting:\n"
                      : "\nBest single fixes (falls gained per false alarm added):\n";
    text += padLeft("rank", 4) + "  " + padRight("fix", 24) + padLeft("now", 6) +
            padLeft("fixes", 7) + padLeft("gained", 8) + padLeft("lost", 6) + padLeft("fa+", 6) +
            padLeft("fa-", 6) + padLeft("sens", 8) + padLeft("fa/h", 8) + "\n";
    for (std::size_t i = 0; i < order.size() && (bySetting || i < topFixes); ++i) {
      const FixCost& cost = explanation.costs[order[i]];
      const Dimension& dimension = explanation.space[cost.dimension];
      const int32_t now = explanation.base.*dimension.field->member;
      const RecordingFix fix{cost.dimension, cost.value > now ? Side::Up : Side::Down, cost.value};
      text += padLeft(std::to_string(i + 1), 4) + "  " +
              padRight(fixCondition(explanation, fix), 24) + padLeft(std::to_string(now), 6) +
              padLeft(std::to_string(cost.recordingsFixed), 7) +
              padLeft(signedCount(cost.fallsGained, '+'), 8) +
              padLeft(signedCount(cost.fallsLost, '-'), 6) +
              padLeft(signedCount(cost.falseAlarmsAdded, '+'), 6) +
              padLeft(signedCount(cost.falseAlarmsRemoved, '-'), 6) +
              padLeft(percentText(cost.counts.sensitivity()), 8) +
              padLeft(rateText(cost.counts.falseAlarmsPerHour()), 8) + "\n";
    }
  }
  if (explanation.ranking.empty()) {
    text += "  (none: no single value of the space makes any error right)\n";
  }
  return text;
}

std::string explainCsv(const Explanation& explanation) {
  std::string csv;
  const std::vector<std::string> columns = explainCsvColumns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    csv += (i == 0 ? "" : ",") + columns[i];
  }
  csv += ",cause\n";
  for (const RecordingExplanation& error : explanation.errors) {
    const auto& result = explanation.results[error.recording];
    for (const RecordingFix& fix : error.fixes) {
      const FixCost* cost = findCost(explanation, fix.dimension, fix.value);
      const Dimension& dimension = explanation.space[fix.dimension];
      csv += csvText(result.path) + "," + outcomeName(error.outcome) + "," + dimension.name() +
             "," + sideName(fix.side) + "," +
             std::to_string(explanation.base.*dimension.field->member) + "," +
             std::to_string(fix.value) + "," + std::to_string(cost->fallsGained) + "," +
             std::to_string(cost->fallsLost) + "," + std::to_string(cost->falseAlarmsAdded) + "," +
             std::to_string(cost->falseAlarmsRemoved) + "," + optionalDoubleText(cost->counts.sensitivity()) +
             "," + optionalDoubleText(cost->counts.falseAlarmsPerHour()) + "," + causeKey(error.cause) + "\n";
    }
  }
  return csv;
}

JsonValue explainJson(const Explanation& explanation) {
  JsonValue root = JsonValue::object(true);
  root.add("format", JsonValue::fromInteger(1));
  root.add("version", JsonValue::fromString(VelmoraGetVersion()));
  root.add("tolerance_samples", JsonValue::fromInteger(explanation.toleranceSamples));
  JsonValue settings = JsonValue::object();
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    settings.add(field.name, JsonValue::fromInteger(explanation.base.*field.member));
  }
  root.add("settings", settings);
  JsonValue space = JsonValue::array(true);
  for (const Dimension& dimension : explanation.space) {
    space.push(JsonValue::object()
                   .add("setting", JsonValue::fromString(dimension.name()))
                   .add("low", JsonValue::fromInteger(dimension.low))
                   .add("high", JsonValue::fromInteger(dimension.high)));
  }
  root.add("space", space);
  const OutcomeCounts& base = explanation.baseCounts;
  root.add("base", JsonValue::object()
                       .add("recordings", JsonValue::fromInteger(base.recordings))
                       .add("unreadable", JsonValue::fromInteger(base.unreadable))
                       .add("tp", JsonValue::fromInteger(base.truePositives))
                       .add("missed", JsonValue::fromInteger(base.missed))
                       .add("early", JsonValue::fromInteger(base.earlyAlarms))
                       .add("false_alarm", JsonValue::fromInteger(base.falseAlarms))
                       .add("tn", JsonValue::fromInteger(base.trueNegatives))
                       .add("daily_living_alarms", JsonValue::fromInteger(base.dailyLivingAlarms))
                       .add("sensitivity", optionalNumber(base.sensitivity()))
                       .add("false_alarms_per_hour", optionalNumber(base.falseAlarmsPerHour())));

  JsonValue causes = JsonValue::array(true);
  for (const CauseCount& count : countCauses(explanation)) {
    causes.push(JsonValue::object()
                    .add("cause", JsonValue::fromString(causeKey(count.cause)))
                    .add("words", JsonValue::fromString(causeWords(count.cause)))
                    .add("alarm_words", JsonValue::fromString(causeAlarmWords(count.cause)))
                    .add("settings", JsonValue::fromString(causeSettings(count.cause)))
                    .add("missed", JsonValue::fromInteger(count.missed))
                    .add("early", JsonValue::fromInteger(count.early))
                    .add("false_alarm", JsonValue::fromInteger(count.falseAlarms)));
  }
  root.add("causes", causes);

  JsonValue fixes = JsonValue::array(true);
  for (std::size_t rank = 0; rank < explanation.ranking.size(); ++rank) {
    const FixCost& cost = explanation.costs[explanation.ranking[rank]];
    const Dimension& dimension = explanation.space[cost.dimension];
    const int32_t now = explanation.base.*dimension.field->member;
    fixes.push(JsonValue::object()
                   .add("rank", JsonValue::fromInteger(static_cast<int64_t>(rank) + 1))
                   .add("setting", JsonValue::fromString(dimension.name()))
                   .add("side", JsonValue::fromString(cost.value > now ? "up" : "down"))
                   .add("base_value", JsonValue::fromInteger(now))
                   .add("value", JsonValue::fromInteger(cost.value))
                   .add("recordings_fixed", JsonValue::fromInteger(cost.recordingsFixed))
                   .add("falls_gained", JsonValue::fromInteger(cost.fallsGained))
                   .add("falls_lost", JsonValue::fromInteger(cost.fallsLost))
                   .add("false_alarms_added", JsonValue::fromInteger(cost.falseAlarmsAdded))
                   .add("false_alarms_removed", JsonValue::fromInteger(cost.falseAlarmsRemoved))
                   .add("sensitivity", optionalNumber(cost.counts.sensitivity()))
                   .add("false_alarms_per_hour", optionalNumber(cost.counts.falseAlarmsPerHour())));
  }
  root.add("fixes", fixes);

  JsonValue errors = JsonValue::array(true);
  JsonValue stages = JsonValue::array(true);
  JsonValue recordingFixes = JsonValue::array(true);
  for (const RecordingExplanation& error : explanation.errors) {
    const auto& result = explanation.results[error.recording];
    const Sight& sight = error.sight;
    JsonValue item = JsonValue::object();
    item.add("recording", JsonValue::fromString(result.path))
        .add("outcome", JsonValue::fromString(outcomeName(error.outcome)))
        .add("fall_position",
             result.isFall ? JsonValue::fromInteger(result.fallPosition) : JsonValue::null())
        .add("first_index", JsonValue::fromOptional(error.firstIndex))
        .add("first_code",
             error.firstIndex ? JsonValue::fromInteger(error.firstCode) : JsonValue::null())
        .add("cause", JsonValue::fromString(causeKey(error.cause)))
        .add("fixes", JsonValue::fromInteger(static_cast<int64_t>(error.fixes.size())))
        .add("anchor", JsonValue::fromInteger(sight.anchor))
        .add("peak_acc", JsonValue::fromInteger(sight.peakAcc))
        .add("peak_acc_at", JsonValue::fromInteger(sight.peakAccAt))
        .add("peak_sum3", JsonValue::fromInteger(sight.peakSum3))
        .add("peak_sum3_at", JsonValue::fromInteger(sight.peakSum3At))
        .add("lowest_acc", JsonValue::fromInteger(sight.lowestAcc))
        .add("longest_low_run", JsonValue::fromInteger(sight.longestLowRun))
        .add("longest_raw_run", JsonValue::fromInteger(sight.longestRawRun))
        .add("longest_fall_len", JsonValue::fromInteger(sight.longestFallLen))
        .add("fall_len_needed", JsonValue::fromInteger(sight.fallLenNeeded))
        .add("jump_samples", JsonValue::fromInteger(sight.jumpSamples))
        .add("low_in_jump", JsonValue::fromInteger(sight.lowInJump))
        .add("upright_after_peak", JsonValue::fromInteger(sight.uprightAfterPeak))
        .add("samples_after_peak", JsonValue::fromInteger(sight.samplesAfterPeak))
        .add("max_roll_after_peak", JsonValue::fromInteger(sight.maxRollAfterPeak))
        .add("min_pitch_after_peak", JsonValue::fromInteger(sight.minPitchAfterPeak))
        .add("max_pitch_after_peak", JsonValue::fromInteger(sight.maxPitchAfterPeak))
        .add("longest_turn_run", JsonValue::fromInteger(sight.longestTurnRun))
        .add("saw",
             JsonValue::fromString(describeSightText(sight, explanation.base, result.isFall)));
    errors.push(item);
    for (const PatternStage& stage : sight.stages) {
      stages.push(JsonValue::object()
                      .add("recording", JsonValue::fromString(result.path))
                      .add("codes", JsonValue::fromString(stage.codes))
                      .add("pattern", JsonValue::fromString(stage.pattern))
                      .add("reached", JsonValue::fromString(stage.reached))
                      .add("distance", std::isfinite(stage.distance)
                                           ? JsonValue::fromNumber(stage.distance)
                                           : JsonValue::null()));
    }
    for (const RecordingFix& fix : error.fixes) {
      const FixCost* cost = findCost(explanation, fix.dimension, fix.value);
      const Dimension& dimension = explanation.space[fix.dimension];
      recordingFixes.push(
          JsonValue::object()
              .add("recording", JsonValue::fromString(result.path))
              .add("outcome", JsonValue::fromString(outcomeName(error.outcome)))
              .add("setting", JsonValue::fromString(dimension.name()))
              .add("side", JsonValue::fromString(sideName(fix.side)))
              .add("base_value", JsonValue::fromInteger(explanation.base.*dimension.field->member))
              .add("fix_value", JsonValue::fromInteger(fix.value))
              .add("falls_gained", JsonValue::fromInteger(cost->fallsGained))
              .add("falls_lost", JsonValue::fromInteger(cost->fallsLost))
              .add("false_alarms_added", JsonValue::fromInteger(cost->falseAlarmsAdded))
              .add("false_alarms_removed", JsonValue::fromInteger(cost->falseAlarmsRemoved))
              .add("sensitivity", optionalNumber(cost->counts.sensitivity()))
              .add("false_alarms_per_hour", optionalNumber(cost->counts.falseAlarmsPerHour())));
    }
  }
  root.add("errors", errors);
  root.add("recording_fixes", recordingFixes);
  root.add("stages", stages);
  root.add("candidate_samples", JsonValue::fromInteger(explanation.candidateSamples));
  return root;
}

}  // namespace tune
