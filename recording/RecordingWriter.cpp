#include "RecordingWriter.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "RecordingReader.h"

namespace {

void appendNumber(std::string& text, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, result.ptr);
}

// A constant as the header shows it: up to six significant digits, no
// trailing zeros ("8192", "65.536").
std::string constantText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

std::string recordingFormatText(int64_t samples) {
  // The 16-bit range in the physical units.
  constexpr double kFullScale = 32768.0;
  return "format: " + std::to_string(kVelmoraSamplesPerSecond) + " samples/s, " +
         std::to_string(samples) + " samples; acc " + constantText(kVelmoraCountsPerG) +
         " counts/g (+-" + constantText(kFullScale / kVelmoraCountsPerG) + " g), gyro " +
         constantText(kVelmoraCountsPerDps) + " counts per deg/s (+-" +
         constantText(kFullScale / kVelmoraCountsPerDps) + " deg/s)";
}

void appendSampleLine(std::string& text, int64_t index, const SampleRecord& sample,
                      std::string_view lineEnd) {
  appendNumber(text, index);
  for (const int16_t value : {sample.ax, sample.ay, sample.az, sample.gx, sample.gy, sample.gz}) {
    text += ',';
    appendNumber(text, value);
  }
  text += lineEnd;
}

std::string formatRecordingHeader(const std::vector<std::string>& headerLines,
                                  std::string_view lineEnd) {
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
  return text;
}

std::string formatRecording(const std::vector<std::string>& headerLines,
                            std::span<const SampleRecord> samples, std::string_view lineEnd) {
  std::string text = formatRecordingHeader(headerLines, lineEnd);
  text.reserve(text.size() + samples.size() * 40);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    appendSampleLine(text, static_cast<int64_t>(i), samples[i], lineEnd);
  }
  return text;
}
