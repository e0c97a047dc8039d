// Helpers the command-line tools share: replaying a recording the way
// Drovik does, with a caller-chosen detector set-up and per-sample hook.
#pragma once

#include <functional>
#include <string>

#include "RecordingReplay.h"
#include "Velmora.h"

// replayRecording() with a std::function hook and the observation filled for
// every sample (ReplayedSample::observation is never null here). The caller
// validates the settings first (VelmoraSet refusing them is reported as not
// opened).
ReplaySummary replayWithSettings(const std::string& path, const DetectorSettings& settings,
                                 const std::function<void(const ReplayedSample&)>& onSample);
