#include "LiveDecoder.h"

#include "RecordingReader.h"

std::string RecordingLineDecoder::decode(std::string_view line, int64_t /*lineNumber*/,
                                         const Emit& emit, const OnGap& /*onGap*/) {
  SampleRecord sample{};
  std::string problem = parseStrictSampleLine(line, sample);
  if (problem.empty()) {
    inHeader_ = false;
    emit(sample);
    return {};
  }
  if (inHeader_) {
    ++headerLines_;
    return {};
  }
  return problem;
}

namespace {

SampleRecord toSample(const std::array<int16_t, 6>& counts) {
  return SampleRecord{counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]};
}

}  // namespace

std::string CsvLineDecoder::decode(std::string_view line, int64_t lineNumber, const Emit& emit,
                                   const OnGap& onGap) {
  std::string gap;
  std::string problem = stream_.addLine(
      line, lineNumber, [&emit](const std::array<int16_t, 6>& counts) { emit(toSample(counts)); },
      gap, notice_);
  if (!gap.empty()) {
    onGap("line " + std::to_string(lineNumber) + ": " + gap);
  }
  return problem;
}

void CsvLineDecoder::finish(const Emit& emit) {
  stream_.finish([&emit](const std::array<int16_t, 6>& counts) { emit(toSample(counts)); });
}
