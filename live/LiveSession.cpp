#include "LiveSession.h"

#include <stdexcept>

#include "LineSplitter.h"
#include "TextUtils.h"

std::string lineProblem(std::string_view line, bool overlong) {
  if (overlong) {
    return "longer than " + std::to_string(LineSplitter::kMaxLineBytes) + " bytes";
  }
  if (line.find('\0') != std::string_view::npos) {
    return "holds a NUL byte";
  }
  if (!isValidUtf8(line)) {
    return "not UTF-8 text";
  }
  return {};
}

LiveSession::LiveSession(const DetectorSettings& settings, std::unique_ptr<SampleDecoder> decoder,
                         OnAlarm onAlarm, OnMalformed onMalformed, OnGap onGap, OnNotice onNotice,
                         RecordJournal* journal)
    : context_(std::make_unique<DetectorContext>()),
      decoder_(std::move(decoder)),
      onAlarm_(std::move(onAlarm)),
      onMalformed_(std::move(onMalformed)),
      onGap_(std::move(onGap)),
      onNotice_(std::move(onNotice)),
      journal_(journal),
      emit_([this](const SampleRecord& sample) { process(sample); }),
      gapFromData_([this](const std::string& text) {
        ++counts_.gaps;
        onGap_(text);
      }) {
  if (VelmoraSet(context_.get(), &settings) < 0) {
    throw std::invalid_argument("the detector refused the settings");
  }
}

LiveSession::~LiveSession() { VelmoraClose(context_.get()); }

void LiveSession::addLine(std::string_view line, bool overlong) {
  ++counts_.lines;
  std::string problem = lineProblem(line, overlong);
  if (problem.empty()) {
    problem = decoder_->decode(line, counts_.lines, emit_, gapFromData_);
    if (std::string notice = decoder_->takeNotice(); !notice.empty()) {
      onNotice_(notice);
    }
  }
  if (!problem.empty()) {
    ++counts_.malformed;
    onMalformed_(counts_.lines, problem);
  }
}

void LiveSession::restart() { decoder_->restart(); }

void LiveSession::finish() { decoder_->finish(emit_); }

void LiveSession::process(const SampleRecord& sample) {
  const int64_t position = counts_.samples++;
  if (journal_ != nullptr) {
    journal_->append(position, sample);
  }
  const int32_t code = VelmoraProcess(context_.get(), &sample);
  if (tally_.add(position, code)) {
    ++counts_.alarms;
    onAlarm_(LiveAlarm{position, code});
  }
}

LiveCounts LiveSession::counts() const {
  LiveCounts counts = counts_;
  counts.headerLines = decoder_->headerLines();
  return counts;
}
