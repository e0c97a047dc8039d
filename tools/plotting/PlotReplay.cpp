#include "PlotReplay.h"

#include "ToolSupport.h"

PlottedRecording plotRecording(const std::string& path, const PlotSetup& setup) {
  PlotCollector collector(setup);
  int64_t seen = 0;  // samples that reached the detector before this one
  const ReplaySummary summary =
      replayWithSettings(path, setup.settings, [&](const ReplayedSample& replayed) {
        const DetectorContext& context = replayed.context;
        PlotObservation observation;
        observation.position = replayed.position;
        observation.raw = replayed.sample;
        observation.features = replayed.features;
        observation.warmUp = seen < kWarmUpSampleCount;
        // The context after the sample: sampleIndex has already advanced past
        // it. A window opened or lengthened at or before this sample covers it
        // until jumpEnd.
        observation.jumpWindow = static_cast<int64_t>(context.sampleIndex) - 1 < context.jumpEnd;
        observation.lowRun = context.lowRun > 0;
        observation.stillRun = context.stillRun > 0;
        observation.code = replayed.code;
        collector.add(observation);
        ++seen;
      });
  PlottedRecording result;
  result.opened = summary.opened;
  result.shortLineNotice = summary.shortLineNotice;
  result.figure = collector.finish(summary.dataLines);
  return result;
}
