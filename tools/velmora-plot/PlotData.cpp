#include "PlotData.h"

#include "SettingsTable.h"
#include "ToolSupport.h"

namespace {

// Adds `position` to the spans, extending the last one when it continues it.
void markPosition(std::vector<PositionSpan>& spans, int64_t position) {
  if (!spans.empty() && spans.back().last + 1 == position) {
    spans.back().last = position;
  } else {
    spans.push_back(PositionSpan{position, position});
  }
}

std::vector<std::string> describeChangedSettings(const DetectorSettings& settings) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  std::vector<std::string> changed;
  for (const SettingField& field : settingFields()) {
    if (settings.*field.member != defaults.*field.member) {
      changed.push_back(std::string(field.name) + "=" + std::to_string(settings.*field.member));
    }
  }
  return changed;
}

}  // namespace

CollectResult collectRecordingPlot(const std::string& path, const DetectorSettings& settings,
                                   RecordingPlot& plot) {
  plot.settings = settings;
  plot.changedSettings = describeChangedSettings(settings);
  const ReplaySummary summary =
      replayWithSettings(path, settings, [&plot](const ReplayedSample& replayed) {
        const int64_t position = replayed.position;
        const DetectorContext& context = replayed.context;
        plot.samples.push_back(PlotSample{position, replayed.features});
        // The context after the sample tells whether the sample lies inside a
        // jump window or a run. sampleIndex has already advanced past the
        // sample; it counts only samples the detector saw, so it can lag the
        // position when short lines were skipped. A window opened or lengthened
        // at or before this sample covers it until jumpEnd (the decision tree
        // takes no fall length from samples before jumpEnd).
        const int64_t detectorIndex = static_cast<int64_t>(context.sampleIndex) - 1;
        if (detectorIndex < context.jumpEnd) {
          markPosition(plot.jumpWindows, position);
        }
        if (context.lowRun > 0) {
          markPosition(plot.lowRuns, position);
        }
        if (context.stillRun > 0) {
          markPosition(plot.stillRuns, position);
        }
        if (replayed.code > 0) {
          plot.detections.push_back(Detection{position, replayed.code});
        }
      });
  plot.positions = summary.dataLines;
  return CollectResult{summary.opened, summary.shortLineNotice};
}

int64_t detectionDelayMs(int64_t detectionPosition, int32_t fallPosition) {
  return (detectionPosition - static_cast<int64_t>(fallPosition)) * 20;
}
