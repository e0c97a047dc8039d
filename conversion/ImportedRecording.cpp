#include "ImportedRecording.h"

#include "InfoFile.h"
#include "RecordingWriter.h"

std::string formatRecording(const ImportedRecording& recording) {
  std::string text;
  (void)recordingProducer(recording)([&text](std::string_view piece) {
    text += piece;
    return std::string();
  });
  return text;
}

TextProducer recordingProducer(const ImportedRecording& recording) {
  std::vector<std::string> header(recording.header.begin(), recording.header.end());
  header.emplace_back("index,ax,ay,az,gx,gy,gz");
  return [text = formatRecordingHeader(header), &recording](const TextSink& write) {
    constexpr std::size_t kPiece = 64 * 1024;
    std::string piece = text;
    piece.reserve(kPiece + 64);
    const std::vector<SampleRecord>& samples = recording.samples;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      appendSampleLine(piece, static_cast<int64_t>(i), samples[i]);
      if (piece.size() >= kPiece) {
        if (std::string error = write(piece); !error.empty()) {
          return error;
        }
        piece.clear();
      }
    }
    return write(piece);
  };
}

std::string formatInfo(const ImportedRecording& recording) {
  return formatInfoFile(recording.name, recording.fallPosition.value_or(0));
}
