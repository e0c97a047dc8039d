// The recordings an evaluation runs over: finding them on disk, reading a
// folder's index.tsv, and reading one recording with its annotation into
// memory so that it can be replayed many times without touching the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Velmora.h"

namespace velmora::evaluation {

struct RecordingEntry {
  std::string path;      // as found: the argument itself, or the folder argument joined
                         // with the file's place below it
  std::string infoPath;  // the sibling "<name>.info"; empty for a daily-living recording
  std::string root;      // the searched folder it was found in; empty for a named file
};

struct RecordingSearch {
  std::vector<RecordingEntry> recordings;  // sorted by path (byte order), each file once
  std::string error;  // a folder that holds no recordings or cannot be read, a named file that
                      // is not a regular one; empty if none
  // One line per dangling or looping symbolic link met in a searched folder
  // (each link once): not an error, but the user may have meant a recording.
  std::vector<std::string> notes;
};

// Accepts "csv" and ".csv"; returns "" for an extension that cannot name
// recordings (empty, only a dot, or ".info").
[[nodiscard]] std::string normaliseExtension(const std::string& extension);

// Searches `paths` (files or folders) for recordings ending in `extension`
// (normalised). A named file is taken whatever its extension; a named path
// that does not exist is kept so that it is reported as unreadable, one that
// is not a regular file (a FIFO, a device) is an error before any reading.
// In a folder such a file is passed over with a note. Symbolic links to
// folders are not followed, which keeps the search finite.
[[nodiscard]] RecordingSearch findRecordings(const std::vector<std::string>& paths,
                                             const std::string& extension);

// A folder's index.tsv: tab-separated, the first line names the columns,
// one of which is "file" (the recording's name relative to the folder).
struct IndexTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;  // cells in column order; short rows padded
  std::size_t fileColumn = 0;

  // The row whose file cell is `file`, or null. The first such row counts.
  [[nodiscard]] const std::vector<std::string>* rowFor(const std::string& file) const;
  // Index of the named column, or -1.
  [[nodiscard]] int columnIndex(const std::string& name) const;
};

// Reads an index file. Returns an error message, or "" on success.
[[nodiscard]] std::string readIndexTable(const std::filesystem::path& path, IndexTable& table);

// The problem of a fall position at or beyond the end of a recording of
// `dataLines` data lines (positions count from 0), or "".
[[nodiscard]] std::string checkFallPosition(const std::string& infoPath, int32_t fallPosition,
                                            int64_t dataLines);

// One recording read into memory, with its annotation.
struct LoadedRecording {
  std::string path;
  std::string infoPath;  // empty for a daily-living recording
  bool isFall = false;
  int32_t fallPosition = 0;  // annotated position, for a readable fall recording
  // The samples that reach the detector, in order: data lines with fewer
  // than seven fields are not among them but still count as positions.
  std::vector<SampleRecord> samples;
  std::vector<int64_t> positions;  // data-line position of each sample; empty when there
                                   // are no short lines (position == index)
  int64_t dataLines = 0;           // positions, short lines included
  int64_t shortLines = 0;
  std::string shortLineNotice;  // empty when every data line held a sample
  std::string problem;          // why the recording cannot be evaluated; empty when it can

  [[nodiscard]] bool readable() const { return problem.empty(); }
  // Data-line position of samples[index].
  [[nodiscard]] int64_t positionOf(std::size_t index) const {
    return positions.empty() ? static_cast<int64_t>(index) : positions[index];
  }
};

// The problem of a recording the reader could not open, saying why when
// the reason is known (a FIFO, device or socket is never opened).
[[nodiscard]] std::string openProblem(const std::string& path);
// The problem of a recording with more than kMaxRecordingSamples samples.
[[nodiscard]] std::string tooLongProblem();

// Reads the annotation first, then the samples. A problem with either makes
// the recording unreadable (`problem` set, no samples kept): a file that is
// not a regular one, or that holds more than kMaxRecordingSamples samples,
// among them.
[[nodiscard]] LoadedRecording loadRecording(const RecordingEntry& entry);

}  // namespace velmora::evaluation
