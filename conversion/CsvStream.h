// The CSV conversion of velmora-import csv, working on a stream: rows go in
// one at a time and samples in counts come out as soon as they are known.
// It shares the importer's row reading (CsvRowParser), resampling
// (GroupMean, GridInterpolator) and rounding (countSample), so with --rate
// the samples are exactly the importer's for the same lines. With a time
// column, rows are placed by their stamps as they come: a row is held until
// the next stamp arrives (a repeated stamp is averaged in, as the importer
// merges them), and a stamp that goes backwards or jumps by more than a
// second starts a new grid there, reported as a gap (the importer sorts
// the whole file instead). Memory stays constant.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "CsvImport.h"
#include "ImportSignal.h"

class CsvStream {
 public:
  using Emit = std::function<void(const SampleRecord&)>;

  // `options` must outlive the stream and have passed
  // chooseStreamResampling(); `columns` names the columns of a stream
  // without a header row ("" when the first row is the header).
  CsvStream(const CsvOptions& options, std::string columns, StreamResampling resampling);

  // The column names given instead of a header row did not parse ("" when
  // they did or none were given).
  [[nodiscard]] const std::string& columnsError() const { return columnsError_; }

  // One line. Returns "" when it was used or skipped as a header or blank
  // line, else why it is malformed (without a line prefix). A gap in the
  // time stamps is described in `gap`; the first problem with a line taken
  // as a header in `notice`.
  [[nodiscard]] std::string addLine(std::string_view line, int64_t lineNumber, const Emit& emit,
                                    std::string& gap, std::string& notice);
  // The end of the input: what is held back.
  void finish(const Emit& emit);
  // The source started over: a header row may come again, nothing is held.
  void restart();

  [[nodiscard]] int64_t headerLines() const { return headerLines_; }

 private:
  void place(const importsignal::Timed<6>& row, const Emit& emit);
  void releaseHeld(const Emit& emit);
  void emitCounts(const importsignal::Values& values, const Emit& emit) const;

  const CsvOptions& options_;
  std::string columns_;
  StreamResampling resampling_;
  std::optional<CsvRowParser> parser_;
  std::string columnsError_;
  bool sawData_ = false;
  int64_t headerLines_ = 0;
  bool headerNoticeGiven_ = false;
  int64_t rows_ = 0;  // rows since the start (or restart): the --rate time
  importsignal::GroupMean mean_;
  importsignal::GridInterpolator grid_;
  // With a time column: the row held until the next stamp, as a sum of the
  // rows with its stamp.
  bool holding_ = false;
  double heldTime_ = 0.0;
  importsignal::Values heldSum_{};
  int64_t heldCount_ = 0;
};
