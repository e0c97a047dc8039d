#include "CsvStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sig = importsignal;

namespace {

// The importer's messages start "line N: "; the live runner names the line
// itself.
std::string withoutLinePrefix(std::string text) {
  if (text.starts_with("line ")) {
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos) {
      text.erase(0, colon + 2);
    }
  }
  return text;
}

std::string secondsText(double ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f s", ms / 1000.0);
  return text;
}

}  // namespace

std::string chooseStreamResampling(const CsvOptions& options, StreamResampling& chosen) {
  if (options.resampling == Resampling::Sinc) {
    return "--resample sinc needs the whole file (velmora-import csv); a stream takes mean or "
           "linear";
  }
  if (!options.timeColumn.empty()) {
    if (options.resampling == Resampling::Mean) {
      return "--resample mean goes with --rate; a stream with --time is interpolated "
             "(--resample linear)";
    }
    chosen = StreamResampling{Resampling::Linear, 1};
    return {};
  }
  const double rate = options.rate.value_or(0.0);
  const double ratio = rate / sig::kOutputRate;
  const double group = std::round(ratio);
  // As the importer decides it for a given rate: exactly a whole multiple.
  const bool multiple = group >= 1.0 && std::fabs(ratio - group) <= 1e-9 * ratio;
  Resampling method = options.resampling;
  if (method == Resampling::Automatic) {
    method = multiple ? Resampling::Mean : Resampling::Linear;
  }
  if (method == Resampling::Mean && !multiple) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "--resample mean needs a source rate that is a whole multiple of 50 samples/s, "
                  "not %.6g; use --resample linear",
                  rate);
    return text;
  }
  chosen = StreamResampling{
      method, method == Resampling::Mean ? static_cast<std::size_t>(group) : std::size_t{1}};
  return {};
}

CsvStream::CsvStream(const CsvOptions& options, std::string columns, StreamResampling resampling)
    : options_(options),
      columns_(std::move(columns)),
      resampling_(resampling),
      mean_(resampling.group) {
  restart();
}

void CsvStream::restart() {
  parser_.emplace(options_);
  if (!columns_.empty()) {
    columnsError_ = parser_->setColumns(columns_);
  }
  sawData_ = false;
  rows_ = 0;
  mean_.reset();
  grid_.reset();
  holding_ = false;
}

std::string CsvStream::addLine(std::string_view line, int64_t lineNumber, const Emit& emit,
                               std::string& gap, std::string& notice) {
  // Blank lines are nothing, as in the importer.
  if (std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; })) {
    return {};
  }
  if (!parser_->haveHeader()) {
    // Lines before a header row naming every column are skipped.
    ++headerLines_;
    if (std::string error = parser_->readHeader(line, lineNumber);
        !error.empty() && !headerNoticeGiven_) {
      headerNoticeGiven_ = true;
      notice = error + "; skipped until a header row names every column";
    }
    if (!parser_->haveHeader()) {
      parser_.emplace(options_);
    }
    return {};
  }
  CsvRow row;
  if (std::string error = parser_->readRow(line, lineNumber, row, false); !error.empty()) {
    if (!sawData_ && !columns_.empty()) {
      // Without a header row: what comes before the first data row is a header.
      ++headerLines_;
      return {};
    }
    return withoutLinePrefix(error);
  }
  sawData_ = true;
  if (options_.timeColumn.empty()) {
    place(sig::Timed<6>{static_cast<double>(rows_) * 1000.0 / options_.rate.value_or(1.0),
                        row.values},
          emit);
    ++rows_;
    return {};
  }
  if (holding_ && row.timeMs == heldTime_) {
    for (std::size_t axis = 0; axis < 6; ++axis) {
      heldSum_[axis] += row.values[axis];
    }
    ++heldCount_;
    return {};
  }
  if (holding_) {
    releaseHeld(emit);
    const double step = row.timeMs - heldTime_;
    if (step < 0.0 || step > 1000.0) {
      gap = step < 0.0 ? "the time goes back by " + secondsText(-step)
                       : "the time jumps by " + secondsText(step);
      gap += "; a new 20 ms grid starts at this row";
      grid_.reset();
    }
  }
  holding_ = true;
  heldTime_ = row.timeMs;
  heldSum_ = {};
  for (std::size_t axis = 0; axis < 6; ++axis) {
    heldSum_[axis] += row.values[axis];
  }
  heldCount_ = 1;
  return {};
}

void CsvStream::releaseHeld(const Emit& emit) {
  if (!holding_) {
    return;
  }
  sig::Timed<6> merged{heldTime_, {}};
  for (std::size_t axis = 0; axis < 6; ++axis) {
    merged.values[axis] = heldSum_[axis] / static_cast<double>(heldCount_);
  }
  holding_ = false;
  place(merged, emit);
}

void CsvStream::place(const sig::Timed<6>& row, const Emit& emit) {
  if (resampling_.method == Resampling::Mean) {
    sig::Values mean{};
    if (mean_.add(row.values, mean)) {
      emitCounts(mean, emit);
    }
    return;
  }
  grid_.add(row, [&](const sig::Values& values) { emitCounts(values, emit); });
}

void CsvStream::finish(const Emit& emit) {
  releaseHeld(emit);
  if (resampling_.method != Resampling::Mean) {
    grid_.finishTo([&](const sig::Values& values) { emitCounts(values, emit); });
  }
}

void CsvStream::emitCounts(const sig::Values& values, const Emit& emit) const {
  sig::Values scaled{};
  bool accClamped = false;
  bool gyroClamped = false;
  emit(sig::countSample(values, options_.accFactor, options_.gyroFactor, scaled, accClamped,
                        gyroClamped));
}
