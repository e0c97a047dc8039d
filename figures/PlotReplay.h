// Replaying a recording for a figure: the detector's observations of every
// sample go to a PlotCollector, in one pass.
#pragma once

#include <string>

#include "PlotCollector.h"

struct PlottedRecording {
  bool opened = false;          // false: the recording could not be opened or read
  std::string shortLineNotice;  // non-empty when short lines were skipped
  RecordingFigure figure;
};

// Replays `path` exactly as Drovik does, with the setup's settings.
[[nodiscard]] PlottedRecording plotRecording(const std::string& path, const PlotSetup& setup);
