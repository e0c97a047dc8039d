// Reads a recording file: seven header lines, then one sample per line.
//
// Lines are read the way a 1024-byte line buffer reads them: at most 1023
// bytes at a time, so a longer line is consumed in pieces and each piece
// counts as a line of its own. A NUL byte ends the text of its piece.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Velmora.h"

// Splits one data line: fields are separated by commas, runs of commas
// count as one separator, the first field is skipped and the next six give
// the sample (low 16 bits of each value). Returns false, leaving `sample`
// alone, when the line holds fewer than seven non-empty fields.
[[nodiscard]] bool parseSampleLine(std::string_view line, SampleRecord& sample);

class RecordingReader {
 public:
  static constexpr int kLineBufferSize = 1024;
  static constexpr int kHeaderLines = 7;

  enum class Status {
    Sample,  // a sample was read
    Short,   // a data line with fewer than seven fields; it still counts
    End,     // end of file or read error
  };

  RecordingReader() = default;
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;
  ~RecordingReader();

  // Opens the file. Fails for a missing file, a directory, or one that
  // cannot be read from its start.
  [[nodiscard]] bool open(const char* path);
  void close();

  // Reads and discards the header lines; running out of file is not an error.
  void skipHeader();

  // Reads the next data line.
  Status next(SampleRecord& sample);

  // Data lines read so far, short ones included.
  [[nodiscard]] int64_t dataLines() const { return dataLines_; }
  // Data lines that were too short, and the first few of their file line
  // numbers (1-based, counting line pieces).
  [[nodiscard]] int64_t shortLines() const { return shortLines_; }
  [[nodiscard]] const std::vector<int64_t>& firstShortLineNumbers() const { return firstShort_; }

 private:
  static constexpr std::size_t kShortLinesKept = 5;

  bool readPiece();

  std::FILE* file_ = nullptr;
  char buffer_[kLineBufferSize] = {};
  int64_t linesRead_ = 0;
  int64_t dataLines_ = 0;
  int64_t shortLines_ = 0;
  std::vector<int64_t> firstShort_;
};

// "<n> data lines with fewer than seven fields were skipped (lines a, b, ...)"
// or an empty string when none were.
[[nodiscard]] std::string describeShortLines(const RecordingReader& reader);
