#include "ImportedRecording.h"

#include "RecordingWriter.h"

std::string formatRecording(const ImportedRecording& recording) {
  std::vector<std::string> header(recording.header.begin(), recording.header.end());
  header.emplace_back("index,ax,ay,az,gx,gy,gz");
  std::vector<SampleRecord> samples;
  samples.reserve(recording.samples.size());
  for (const auto& s : recording.samples) {
    samples.push_back({s[0], s[1], s[2], s[3], s[4], s[5]});
  }
  return formatRecording(header, samples);
}

std::string formatInfo(const ImportedRecording& recording) {
  return recording.name + "," + std::to_string(recording.fallPosition.value_or(0)) + ",1\n";
}
