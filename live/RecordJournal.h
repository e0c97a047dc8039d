// The samples of a live run written as a recording while it runs: the
// seven header lines every recording has, then one data line per accepted
// sample, handed to the system after every batch of input, so that a
// replay of the file sees exactly what the run saw. Unlike the tools'
// other outputs it is not written through a temporary file: it is a
// journal, useful however far it got.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Velmora.h"

class RecordJournal {
 public:
  RecordJournal() = default;
  RecordJournal(const RecordJournal&) = delete;
  RecordJournal& operator=(const RecordJournal&) = delete;
  ~RecordJournal();

  // Creates `path` (never replacing a file that exists) and writes the
  // header lines. Returns "" or why it failed.
  [[nodiscard]] std::string open(const std::string& path,
                                 const std::vector<std::string>& headerLines);

  // Appends the data line of one sample (position counting from 0).
  void append(int64_t position, const SampleRecord& sample);

  // Writes what is buffered. Returns "" or the first write error (after
  // which nothing more is written).
  [[nodiscard]] std::string flush();

  [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
  [[nodiscard]] const std::string& error() const { return error_; }
  [[nodiscard]] bool hasFailed() const { return !error_.empty(); }

 private:
  static constexpr std::size_t kFlushBytes = 64 * 1024;

  int fd_ = -1;
  std::string path_;
  std::string pending_;
  std::string error_;
};
