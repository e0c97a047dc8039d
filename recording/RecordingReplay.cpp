#include "RecordingReplay.h"

ReplaySummary replayWithSettings(const std::string& path, const DetectorSettings& settings,
                                 const std::function<void(const ReplayedSample&)>& onSample) {
  VelmoraObservation observation{};
  return replayRecording(path.c_str(), settings, &observation,
                         [&onSample](const ReplayedSample& replayed) {
                           if (onSample) {
                             onSample(replayed);
                           }
                         });
}
