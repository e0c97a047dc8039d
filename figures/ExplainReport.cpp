#include "ExplainReport.h"

#include <algorithm>
#include <vector>

#include "ExplainOutput.h"
#include "TuneOutput.h"

namespace velmora::report {

namespace {

// Position of each cost in the ranking.
std::vector<std::size_t> rankOfCosts(const tune::Explanation& explanation) {
  std::vector<std::size_t> rank(explanation.costs.size(), 0);
  for (std::size_t r = 0; r < explanation.ranking.size(); ++r) {
    rank[explanation.ranking[r]] = r;
  }
  return rank;
}

}  // namespace

std::string explainCaption(const tune::Explanation& explanation,
                           const tune::RecordingExplanation& error, std::size_t fixes,
                           bool withCost) {
  const auto& result = explanation.results[error.recording];
  std::string text = tune::describeSightText(error.sight, explanation.base, result.isFall);
  std::size_t stages = 0;
  for (const tune::PatternStage& stage : error.sight.stages) {
    if (stages == 2) {
      break;
    }
    text += (stages == 0 ? " Closest: " : "; ") + stage.pattern + " (" + stage.codes +
            "): " + stage.reached;
    ++stages;
  }
  text += std::string(stages > 0 ? "." : "") + " Nearest cause: " +
          (result.isFall && error.outcome == tune::Outcome::Missed
               ? tune::causeWords(error.cause)
               : tune::causeAlarmWords(error.cause)) +
          ".";
  const std::vector<std::size_t> rank = rankOfCosts(explanation);
  std::vector<const tune::RecordingFix*> ordered;
  for (const tune::RecordingFix& fix : error.fixes) {
    ordered.push_back(&fix);
  }
  const auto rankOf = [&](const tune::RecordingFix* fix) {
    const tune::FixCost* cost = tune::findCost(explanation, fix->dimension, fix->value);
    return cost == nullptr ? explanation.costs.size()
                           : rank[static_cast<std::size_t>(cost - explanation.costs.data())];
  };
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const tune::RecordingFix* a, const tune::RecordingFix* b) {
                     return rankOf(a) < rankOf(b);
                   });
  const char* caught = result.isFall ? "caught with " : "silenced with ";
  for (std::size_t i = 0; i < ordered.size() && i < fixes; ++i) {
    const tune::RecordingFix& fix = *ordered[i];
    const tune::Dimension& dimension = explanation.space[fix.dimension];
    text += "\n" + std::string(caught) + tune::fixCondition(explanation, fix) + " (now " +
            std::to_string(explanation.base.*dimension.field->member) + ")";
    if (withCost) {
      if (const tune::FixCost* cost = tune::findCost(explanation, fix.dimension, fix.value)) {
        text += ": " + tune::describeCost(explanation, *cost) + " over these recordings";
      }
    }
  }
  if (error.fixes.empty()) {
    text += "\nno single setting of the space makes it right";
  }
  return text;
}

ReportExplanation reportExplanation(const tune::Explanation& explanation, std::size_t topFixes) {
  ReportExplanation report;
  report.captions.assign(explanation.results.size(), std::string());
  for (const tune::RecordingExplanation& error : explanation.errors) {
    report.captions[error.recording] = explainCaption(explanation, error, kCaptionFixes, true);
  }
  for (const tune::CauseCount& count : tune::countCauses(explanation)) {
    if (count.total() > 0) {
      report.causes.push_back(ReportExplanation::CauseRow{
          tune::causeWords(count.cause), tune::causeAlarmWords(count.cause),
          tune::causeSettings(count.cause), count.missed, count.early, count.falseAlarms});
    }
  }
  report.fixHeader = {"fix",
                      "now",
                      "errors fixed",
                      "falls gained",
                      "falls lost",
                      "alarms added",
                      "alarms removed",
                      "sensitivity",
                      "false alarms per hour"};
  for (std::size_t i = 0; i < explanation.ranking.size() && i < topFixes; ++i) {
    const tune::FixCost& cost = explanation.costs[explanation.ranking[i]];
    const tune::Dimension& dimension = explanation.space[cost.dimension];
    const int32_t now = explanation.base.*dimension.field->member;
    const tune::RecordingFix fix{cost.dimension,
                                 cost.value > now ? tune::Side::Up : tune::Side::Down, cost.value};
    report.fixRows.push_back(
        {tune::fixCondition(explanation, fix), std::to_string(now),
         std::to_string(cost.recordingsFixed), std::to_string(cost.fallsGained),
         std::to_string(cost.fallsLost), std::to_string(cost.falseAlarmsAdded),
         std::to_string(cost.falseAlarmsRemoved), tune::percentText(cost.counts.sensitivity()),
         tune::rateText(cost.counts.falseAlarmsPerHour())});
  }
  report.note =
      "Each error is put down to the setting of its nearest single fix: the value, on either "
      "side of the current one, closest in steps of the tuning space that makes that "
      "recording right with every other setting unchanged. Every integer of each setting's "
      "range was tried on the detector itself. Fixes are ranked by falls gained per false "
      "alarm added over all these recordings.";
  return report;
}

}  // namespace velmora::report
