// Turning the lines of a live stream into detector samples. A decoder
// takes one line at a time and emits zero or more samples (a converting
// decoder may hold a few source rows back to resample them); a line it
// cannot use is reported as malformed and never becomes a sample.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "CsvStream.h"
#include "Velmora.h"

class SampleDecoder {
 public:
  using Emit = std::function<void(const SampleRecord&)>;
  using OnGap = std::function<void(const std::string&)>;

  virtual ~SampleDecoder() = default;

  // Returns "" when the line was used (as data, a header or a blank line),
  // otherwise why it is malformed. Reports a gap the data itself shows (time
  // stamps going backwards or jumping) through onGap.
  [[nodiscard]] virtual std::string decode(std::string_view line, int64_t lineNumber,
                                           const Emit& emit, const OnGap& onGap) = 0;
  // The source started over (a reopened device, a replaced file): a header
  // may come again and what is held back is dropped.
  virtual void restart() = 0;
  // The end of the input: emits what is held back.
  virtual void finish(const Emit& emit) = 0;
  // Lines taken as a header so far.
  [[nodiscard]] virtual int64_t headerLines() const = 0;
  // Something to tell about the last line that is not a problem with it
  // (why a line was taken as a header), or "".
  [[nodiscard]] virtual std::string takeNotice() { return {}; }
};

// Lines as a recording holds them ("index,ax,ay,az,gx,gy,gz", each value a
// signed 16-bit count; see parseStrictSampleLine). Until the first data
// line, lines that are not data lines are a header and skipped; after it,
// they are malformed.
class RecordingLineDecoder final : public SampleDecoder {
 public:
  [[nodiscard]] std::string decode(std::string_view line, int64_t lineNumber, const Emit& emit,
                                   const OnGap& onGap) override;
  void restart() override { inHeader_ = true; }
  void finish(const Emit&) override {}
  [[nodiscard]] int64_t headerLines() const override { return headerLines_; }

 private:
  bool inHeader_ = true;
  int64_t headerLines_ = 0;
};

// Delimited text converted as velmora-import csv converts it (CsvStream):
// units, axes, resampling to 50 samples/s, rounding to counts.
class CsvLineDecoder final : public SampleDecoder {
 public:
  // `options` must outlive the decoder.
  CsvLineDecoder(const CsvOptions& options, std::string columns, StreamResampling resampling)
      : stream_(options, std::move(columns), resampling) {}

  [[nodiscard]] std::string decode(std::string_view line, int64_t lineNumber, const Emit& emit,
                                   const OnGap& onGap) override;
  void restart() override { stream_.restart(); }
  void finish(const Emit& emit) override;
  [[nodiscard]] int64_t headerLines() const override { return stream_.headerLines(); }
  [[nodiscard]] std::string takeNotice() override { return std::exchange(notice_, {}); }

 private:
  CsvStream stream_;
  std::string notice_;
};
