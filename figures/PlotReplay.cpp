#include "PlotReplay.h"

#include "RecordingReplay.h"

PlottedRecording plotRecording(const std::string& path, const PlotSetup& setup) {
  PlotCollector collector(setup);
  const ReplaySummary summary =
      replayWithSettings(path, setup.settings, [&](const ReplayedSample& replayed) {
        PlotObservation observation;
        observation.position = replayed.position;
        observation.raw = replayed.sample;
        const VelmoraObservation& observed = *replayed.observation;
        observation.features = observed;
        observation.warmUp = observed.warmUp;
        // A window opened or lengthened at or before this sample covers it
        // until jumpEnd.
        observation.jumpWindow = observed.jumpWindowOpen;
        observation.lowRun = observed.lowRun > 0;
        observation.stillRun = observed.stillRun > 0;
        observation.code = replayed.code;
        collector.add(observation);
      });
  PlottedRecording result;
  result.opened = summary.opened;
  result.shortLineNotice = summary.shortLineNotice;
  result.figure = collector.finish(summary.dataLines);
  return result;
}
