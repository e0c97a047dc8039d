#include "EvalRecordings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "InfoFile.h"
#include "RecordingReader.h"
#include "TextUtils.h"

namespace velmora::evaluation {

namespace fs = std::filesystem;

namespace {

constexpr char kInfoExtension[] = ".info";

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "<name>.info" beside the recording: the recording extension is replaced
// when the file carries it, otherwise whatever extension it has.
std::string infoPathFor(const std::string& path, const std::string& extension) {
  const fs::path file(path);
  const std::string name = file.filename().string();
  if (name.size() > extension.size() && endsWith(name, extension)) {
    return path.substr(0, path.size() - extension.size()) + kInfoExtension;
  }
  fs::path info = file;
  info.replace_extension(kInfoExtension);
  return info.string();
}

RecordingEntry makeEntry(const std::string& path, const std::string& extension,
                         const std::string& root) {
  std::string infoPath = infoPathFor(path, extension);
  std::error_code error;
  if (!fs::exists(infoPath, error)) {
    infoPath.clear();
  }
  return RecordingEntry{path, std::move(infoPath), root};
}

// A dangling or looping link gets a note: it may be a recording or a
// folder of recordings the user expected to be evaluated.
void noteBrokenLink(const fs::directory_entry& entry, RecordingSearch& search,
                    std::set<std::string>& noted) {
  std::error_code error;
  if (!entry.is_symlink(error) || fs::exists(entry.path(), error)) {
    return;
  }
  const bool looping = error.value() == ELOOP;
  std::error_code ignored;
  const fs::path parent = fs::weakly_canonical(entry.path().parent_path(), ignored);
  if (!noted.insert((parent / entry.path().filename()).string()).second) {
    return;
  }
  search.notes.push_back("note: skipped " + std::string(looping ? "looping" : "dangling") +
                         " symbolic link '" + entry.path().string() + "'");
}

// Adds the recordings below `folder`; returns an error message or "".
std::string searchFolder(const fs::path& folder, const std::string& root,
                         const std::string& extension, std::vector<RecordingEntry>& found,
                         RecordingSearch& search, std::set<std::string>& noted) {
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) {
    return "cannot read folder '" + folder.string() + "': " + error.message();
  }
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error) {
      return "cannot read folder '" + folder.string() + "': " + error.message();
    }
    const fs::directory_entry& entry = *entries;
    std::error_code statusError;
    if (entry.is_directory(statusError) && !entry.is_symlink(statusError)) {
      if (std::string message = searchFolder(entry.path(), root, extension, found, search, noted);
          !message.empty()) {
        return message;
      }
      continue;
    }
    noteBrokenLink(entry, search, noted);
    const std::string name = entry.path().filename().string();
    if (name.size() > extension.size() && endsWith(name, extension)) {
      if (entry.is_regular_file(statusError)) {
        found.push_back(makeEntry(entry.path().string(), extension, root));
      } else if (std::string special = notARegularFile(entry.path().string());
                 !special.empty() && !entry.is_directory(statusError)) {
        search.notes.push_back("note: skipped '" + entry.path().string() + "': it " + special);
      }
    }
  }
  if (error) {
    return "cannot read folder '" + folder.string() + "': " + error.message();
  }
  return {};
}

// Two spellings of one file share this key, so the file is evaluated once.
std::string canonicalIdentity(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(path, error);
  return error ? fs::path(path).lexically_normal().string() : canonical.string();
}

std::vector<std::string> splitTabs(std::string_view line) {
  std::vector<std::string> cells;
  for (;;) {
    const auto tab = line.find('\t');
    cells.emplace_back(line.substr(0, tab));
    if (tab == std::string_view::npos) {
      return cells;
    }
    line.remove_prefix(tab + 1);
  }
}

}  // namespace

std::string openProblem(const std::string& path) {
  const std::string special = notARegularFile(path);
  return special.empty() ? "cannot open recording (missing, unreadable or a folder)"
                         : "cannot open recording: it " + special;
}

std::string tooLongProblem() {
  return "more than " + std::to_string(kMaxRecordingSamples) +
         " samples (a recording this long, or one still growing, is not taken whole)";
}

std::string normaliseExtension(const std::string& extension) {
  std::string normalised = extension;
  if (normalised.empty() || normalised.front() != '.') {
    normalised.insert(normalised.begin(), '.');
  }
  if (normalised == "." || normalised == kInfoExtension ||
      normalised.find('/') != std::string::npos) {
    return {};
  }
  return normalised;
}

RecordingSearch findRecordings(const std::vector<std::string>& paths,
                               const std::string& extension) {
  RecordingSearch search;
  std::vector<RecordingEntry> found;
  std::set<std::string> noted;
  for (const std::string& path : paths) {
    // A path that names nothing is a mistake in the command, not a recording
    // to report as unreadable after all the others have run.
    if (struct stat status {}; ::stat(path.c_str(), &status) != 0 &&
                               (errno == ENOENT || errno == ENOTDIR)) {
      search.error = "'" + path + "' does not exist";
      return search;
    }
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      if (std::string problem = namedRecordingProblem(path); !problem.empty()) {
        search.error = problem;
        return search;
      }
      found.push_back(makeEntry(path, extension, {}));
      continue;
    }
    const std::size_t before = found.size();
    search.error = searchFolder(path, path, extension, found, search, noted);
    if (search.error.empty() && found.size() == before) {
      search.error = "no recordings (files ending in " + extension + ") in folder '" + path + "'";
    }
    if (!search.error.empty()) {
      return search;
    }
  }
  std::sort(search.notes.begin(), search.notes.end());
  // A file reached twice keeps the spelling under which it was found first.
  std::set<std::string> seen;
  for (RecordingEntry& entry : found) {
    if (seen.insert(canonicalIdentity(entry.path)).second) {
      search.recordings.push_back(std::move(entry));
    }
  }
  std::sort(search.recordings.begin(), search.recordings.end(),
            [](const RecordingEntry& a, const RecordingEntry& b) { return a.path < b.path; });
  return search;
}

const std::vector<std::string>* IndexTable::rowFor(const std::string& file) const {
  for (const std::vector<std::string>& row : rows) {
    if (row[fileColumn] == file) {
      return &row;
    }
  }
  return nullptr;
}

int IndexTable::columnIndex(const std::string& name) const {
  const auto place = std::find(columns.begin(), columns.end(), name);
  return place == columns.end() ? -1 : static_cast<int>(place - columns.begin());
}

std::string readIndexTable(const fs::path& path, IndexTable& table) {
  table = IndexTable{};
  std::ifstream file(path, std::ios::binary);
  std::error_code ignored;
  if (!file || !fs::is_regular_file(path, ignored)) {
    return "cannot read '" + path.string() + "'";
  }
  bool header = true;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty()) {
      continue;
    }
    std::vector<std::string> cells = splitTabs(line);
    if (header) {
      table.columns = std::move(cells);
      const int fileColumn = table.columnIndex("file");
      if (fileColumn < 0) {
        return "'" + path.string() + "' has no 'file' column";
      }
      table.fileColumn = static_cast<std::size_t>(fileColumn);
      header = false;
      continue;
    }
    cells.resize(table.columns.size());
    table.rows.push_back(std::move(cells));
  }
  if (file.bad()) {
    return "cannot read '" + path.string() + "'";
  }
  if (header) {
    return "'" + path.string() + "' is empty";
  }
  return {};
}

std::string checkFallPosition(const std::string& infoPath, int32_t fallPosition,
                              int64_t dataLines) {
  if (fallPosition < dataLines) {
    return {};
  }
  return "info file '" + infoPath + "': fall position " + std::to_string(fallPosition) +
         " is at or beyond the end of the recording (" + std::to_string(dataLines) + " data lines)";
}

LoadedRecording loadRecording(const RecordingEntry& entry) {
  LoadedRecording recording;
  recording.path = entry.path;
  recording.infoPath = entry.infoPath;
  recording.isFall = !entry.infoPath.empty();
  if (recording.isFall) {
    InfoAnnotation annotation = readInfoFileStrict(entry.infoPath);
    if (!annotation.problem.empty()) {
      recording.problem = std::move(annotation.problem);
      return recording;
    }
    recording.fallPosition = annotation.fallPosition;
  }
  RecordingReader reader;
  if (!reader.open(entry.path.c_str(), true)) {
    recording.problem = openProblem(entry.path);
    return recording;
  }
  reader.skipHeader();
  SampleRecord sample{};
  std::vector<int64_t> positions;
  for (int64_t position = 0;; ++position) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample) {
      if (recording.samples.size() == kMaxRecordingSamples) {
        recording.problem = tooLongProblem();
        recording.samples = {};
        return recording;
      }
      recording.samples.push_back(sample);
      if (reader.shortLines() > 0) {
        positions.push_back(position);
      }
    } else if (positions.empty()) {
      // The first short line: from here on positions and sample indices
      // differ, so every sample's position is kept.
      for (std::size_t index = 0; index < recording.samples.size(); ++index) {
        positions.push_back(static_cast<int64_t>(index));
      }
    }
  }
  if (recording.isFall) {
    recording.problem =
        checkFallPosition(entry.infoPath, recording.fallPosition, reader.dataLines());
    if (!recording.problem.empty()) {
      recording.samples = {};
      recording.positions = {};
      return recording;
    }
  }
  recording.dataLines = reader.dataLines();
  recording.shortLines = reader.shortLines();
  recording.shortLineNotice = describeShortLines(reader);
  recording.positions = std::move(positions);
  recording.samples.shrink_to_fit();
  return recording;
}

}  // namespace velmora::evaluation
