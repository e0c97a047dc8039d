#include "RecordingWriter.h"

#include <charconv>
#include <stdexcept>

#include "RecordingReader.h"

namespace {

void appendNumber(std::string& text, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, result.ptr);
}

}  // namespace

void appendSampleLine(std::string& text, int64_t index, const SampleRecord& sample,
                      std::string_view lineEnd) {
  appendNumber(text, index);
  for (const int16_t value : {sample.ax, sample.ay, sample.az, sample.gx, sample.gy, sample.gz}) {
    text += ',';
    appendNumber(text, value);
  }
  text += lineEnd;
}

std::string formatRecording(const std::vector<std::string>& headerLines,
                            std::span<const SampleRecord> samples, std::string_view lineEnd) {
  if (headerLines.size() != RecordingReader::kHeaderLines) {
    throw std::invalid_argument("a recording has exactly seven header lines");
  }
  std::string text;
  for (const std::string& line : headerLines) {
    if (line.find_first_of("\r\n") != std::string::npos) {
      throw std::invalid_argument("a recording header line holds a line break");
    }
    text += line;
    text += lineEnd;
  }
  text.reserve(text.size() + samples.size() * 40);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    appendSampleLine(text, static_cast<int64_t>(i), samples[i], lineEnd);
  }
  return text;
}
