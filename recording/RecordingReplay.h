// The replay of one recording through a freshly set-up detector: the loop
// Drovik and every tool run. Per sample it reads one line into a reused
// buffer and calls the detector; it allocates nothing per sample.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "DetectorSession.h"
#include "RecordingReader.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

struct ReplaySummary {
  bool opened = false;           // false: not replayed (see settingsRefused)
  bool settingsRefused = false;  // the file opened but VelmoraSet refused the settings
  int64_t dataLines = 0;         // positions, short lines included
  int64_t shortLines = 0;        // lines with fewer than seven fields (not replayed)
  std::string shortLineNotice;   // describeShortLines() text, empty when none
};

// One sample as the detector saw it, handed to the replay's callback.
struct ReplayedSample {
  int64_t position;  // data-line position from 0; short lines take a position too
  const SampleRecord& sample;
  int32_t code;                           // the detector's result code
  const VelmoraObservation* observation;  // filled for this sample, or null when not asked for
};

// Replays `path` with `settings` on a fresh context and calls
// onSample(const ReplayedSample&) after every sample that reached the
// detector. With a non-null `observation` the detector fills it for each
// sample (the callback sees it through ReplayedSample::observation).
// With `regularOnly` the path must be a regular file (RecordingReader::open).
template <typename OnSample>
ReplaySummary replayRecording(const char* path, const DetectorSettings& settings,
                              VelmoraObservation* observation, OnSample&& onSample,
                              bool regularOnly = false) {
  ReplaySummary summary;
  RecordingReader reader;
  if (!reader.open(path, regularOnly)) {
    return summary;
  }
  DetectorSession detector;
  if (!detector.open(settings)) {
    summary.settingsRefused = true;
    return summary;
  }
  summary.opened = true;
  reader.skipHeader();
  SampleRecord sample{};
  for (int64_t position = 0;; ++position) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample) {
      const int32_t code = VelmoraProcessObserved(detector.context(), &sample, observation);
      onSample(ReplayedSample{position, sample, code, observation});
    }
  }
  detector.close();
  reader.close();
  summary.dataLines = reader.dataLines();
  summary.shortLines = reader.shortLines();
  summary.shortLineNotice = describeShortLines(reader);
  return summary;
}

// replayRecording() with a std::function hook and the observation filled for
// every sample (ReplayedSample::observation is never null here). The caller
// validates the settings first (VelmoraSet refusing them is reported as not
// opened).
ReplaySummary replayWithSettings(const std::string& path, const DetectorSettings& settings,
                                 const std::function<void(const ReplayedSample&)>& onSample);
