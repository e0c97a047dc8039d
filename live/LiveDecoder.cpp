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

std::string CsvLineDecoder::decode(std::string_view line, int64_t lineNumber, const Emit& emit,
                                   const OnGap& onGap) {
  std::string gap;
  std::string problem = stream_.addLine(line, lineNumber, emit, gap, notice_);
  if (!gap.empty()) {
    onGap("line " + std::to_string(lineNumber) + ": " + gap);
  }
  return problem;
}

void CsvLineDecoder::finish(const Emit& emit) {
  stream_.finish(emit);
}
