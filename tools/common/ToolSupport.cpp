#include "ToolSupport.h"

#include <memory>

ReplaySummary replayWithSettings(const std::string& path, const DetectorSettings& settings,
                                 const std::function<void(const ReplayedSample&)>& onSample) {
  ReplaySummary summary;
  RecordingReader reader;
  if (!reader.open(path.c_str())) {
    return summary;
  }
  // The context is large; keep it off small thread stacks.
  const auto context = std::make_unique<DetectorContext>();
  if (VelmoraSet(context.get(), &settings) < 0) {
    return summary;
  }
  summary.opened = true;
  reader.skipHeader();
  SampleRecord sample{};
  SampleInspection features{};
  int64_t position = 0;
  for (;;) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample) {
      const int32_t code = VelmoraProcessInspect(context.get(), &sample, &features);
      if (onSample) {
        onSample(ReplayedSample{position, sample, features, *context, code});
      }
    }
    ++position;
  }
  VelmoraClose(context.get());
  summary.dataLines = reader.dataLines();
  summary.shortLines = reader.shortLines();
  summary.shortLineNotice = describeShortLines(reader);
  return summary;
}
