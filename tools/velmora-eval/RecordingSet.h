// Finding the recordings an evaluation runs over: files named on the
// command line, and every file with the recording extension below the
// folders named there.
#pragma once

#include <string>
#include <vector>

struct RecordingEntry {
  std::string path;      // as found: the argument itself, or the folder argument joined
                         // with the file's place below it
  std::string infoPath;  // the sibling "<name>.info"; empty for a daily-living recording
};

struct RecordingSearch {
  std::vector<RecordingEntry> recordings;  // sorted by path, each file once
  std::string error;  // a folder that holds no recordings or cannot be read; empty if none
};

// Accepts "csv" and ".csv"; returns "" for an extension that cannot name
// recordings (empty, only a dot, or ".info").
[[nodiscard]] std::string normaliseExtension(const std::string& extension);

// Searches `paths` (files or folders) for recordings ending in `extension`
// (normalised). A named file is taken whatever its extension; a named path
// that does not exist is kept so that it is reported as unreadable. Symbolic
// links to folders are not followed, which keeps the search finite.
[[nodiscard]] RecordingSearch findRecordings(const std::vector<std::string>& paths,
                                             const std::string& extension);
