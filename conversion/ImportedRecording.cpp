#include "ImportedRecording.h"

#include "InfoFile.h"
#include "RecordingWriter.h"

std::string formatRecording(const ImportedRecording& recording) {
  std::vector<std::string> header(recording.header.begin(), recording.header.end());
  header.emplace_back("index,ax,ay,az,gx,gy,gz");
  return formatRecording(header, recording.samples);
}

std::string formatInfo(const ImportedRecording& recording) {
  return formatInfoFile(recording.name, recording.fallPosition.value_or(0));
}
