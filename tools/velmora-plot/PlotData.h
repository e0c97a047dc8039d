// What velmora-plot draws, gathered from one replay of a recording: the
// detector's own per-sample values, the spans its context marks (jump windows
// and low-acceleration runs) and every positive result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Velmora.h"
#include "VelmoraObserve.h"

struct PlotSample {
  int64_t position;  // data-line position, the sample index Drovik reports
  SampleInspection features;
};

// Consecutive positions, both ends included.
struct PositionSpan {
  int64_t first;
  int64_t last;
};

struct Detection {
  int64_t position;
  int32_t code;
};

// The annotation of an info file, read as Drovik reads it.
struct FallAnnotation {
  int32_t position = 0;
  bool showDelay = false;  // the file's flag is above 0
};

struct RecordingPlot {
  std::string name;  // file name shown in the title
  DetectorSettings settings{};
  std::vector<std::string> changedSettings;  // "NAME=VALUE" for non-defaults
  int64_t positions = 0;                     // data lines, short ones included
  std::vector<PlotSample> samples;           // samples that reached the detector
  std::vector<PositionSpan> jumpWindows;     // samples before jumpEnd
  std::vector<PositionSpan> lowRuns;         // smoothed run: lowRun > 0
  std::vector<PositionSpan> stillRuns;       // raw run: stillRun > 0
  std::vector<Detection> detections;         // every sample with a code above 0
  std::optional<FallAnnotation> annotation;
};

struct CollectResult {
  bool opened = false;
  std::string shortLineNotice;  // non-empty when short lines were skipped
};

// Replays `path` exactly as Drovik does (via replayWithSettings) and fills
// `plot` from the detector's per-sample values and context.
CollectResult collectRecordingPlot(const std::string& path, const DetectorSettings& settings,
                                   RecordingPlot& plot);

// Delay of a detection from the annotated position in milliseconds (20 ms per
// sample), in 64 bits so no recording length can overflow it.
[[nodiscard]] int64_t detectionDelayMs(int64_t detectionPosition, int32_t fallPosition);
