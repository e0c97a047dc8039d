// Helpers the command-line tools share: replaying a recording the way
// Drovik does, with a caller-chosen detector set-up and per-sample hook.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "RecordingReader.h"
#include "Velmora.h"
#include "VelmoraObserve.h"

struct ReplaySummary {
  bool opened = false;          // false: the file could not be opened or read
  int64_t dataLines = 0;        // positions, short lines included
  int64_t shortLines = 0;       // lines with fewer than seven fields (not replayed)
  std::string shortLineNotice;  // describeShortLines() text, empty when none
};

// One sample as the detector saw it, handed to the replay's callback.
struct ReplayedSample {
  int64_t position;  // data-line position, from 0
  const SampleRecord& sample;
  const SampleInspection& features;  // the detector's own per-sample values
  const DetectorContext& context;    // state after the sample
  int32_t code;                      // result code
};

// Replays `path` with `settings` on a fresh context, exactly as Drovik does.
// `onSample` (may be empty) is called after each sample that reached the
// detector. The caller validates the settings first (VelmoraSet refusing
// them is reported as not opened).
ReplaySummary replayWithSettings(const std::string& path, const DetectorSettings& settings,
                                 const std::function<void(const ReplayedSample&)>& onSample);
