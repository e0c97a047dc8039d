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

// The most samples a program that holds a recording's samples in memory
// takes from one recording: a longer one (or one that keeps growing while
// it is read) is refused with an error for that recording.
inline constexpr std::size_t kMaxRecordingSamples = 10'000'000;

// Why `path`, named to a program as a recording, is refused before
// anything is read: "is a folder", or "is not a regular file (...)" (a
// FIFO would wait for a writer, a device may never end). "" for a regular
// file, and for a path that does not exist or cannot be examined (opening
// it reports those). Nothing is opened.
[[nodiscard]] std::string notARegularFile(const std::string& path);
// The usage error of a recording named on the command line that is not a
// regular file ("recording '<path>' is not a regular file ..."), or "".
// Every program checks its named recordings with it before any work.
[[nodiscard]] std::string namedRecordingProblem(const std::string& path);

// Splits one data line: fields are separated by commas, runs of commas
// count as one separator, the first field is skipped and the next six give
// the sample (low 16 bits of each value). Returns false, leaving `sample`
// alone, when the line holds fewer than seven non-empty fields.
[[nodiscard]] bool parseSampleLine(std::string_view line, SampleRecord& sample);

// A data line exactly as a well-formed recording holds it: seven fields
// separated by single commas, the first (the index) not empty and skipped,
// the next six decimal integers (sign allowed, blanks around them allowed)
// within the signed 16-bit range. Returns "" and fills `sample`, or says
// why the line is not one ("5 fields, expected 7", "field 3: '40000' is
// outside the signed 16-bit range"), leaving `sample` alone. A line that
// passes reads the same through parseSampleLine().
[[nodiscard]] std::string parseStrictSampleLine(std::string_view line, SampleRecord& sample);

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
  // cannot be read from its start. With `regularOnly`, anything but a
  // regular file is refused too, at once (a FIFO is not waited on).
  [[nodiscard]] bool open(const char* path, bool regularOnly = false);
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
