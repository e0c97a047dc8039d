// What a recording looks like to the detector: length, the stillest
// second's gravity vector, clamping, and warnings when the orientation,
// scale or rate look wrong.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "Velmora.h"

struct RecordingCheck {
  std::vector<std::string> lines;     // the report, without the file name
  std::vector<std::string> warnings;  // also listed in `lines`
};

// Checks samples read the way Drovik reads them (50 samples/s, 8192
// counts per g, 65.536 counts per deg/s; upright reads y about -1 g).
[[nodiscard]] RecordingCheck checkRecording(std::span<const SampleRecord> samples);
