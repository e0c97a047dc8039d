#include "RecordingSet.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

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

RecordingEntry makeEntry(const std::string& path, const std::string& extension) {
  std::string infoPath = infoPathFor(path, extension);
  std::error_code error;
  if (!fs::exists(infoPath, error)) {
    infoPath.clear();
  }
  return RecordingEntry{path, std::move(infoPath)};
}

// Adds the recordings below `folder`; returns an error message or "".
std::string searchFolder(const fs::path& folder, const std::string& extension,
                         std::vector<RecordingEntry>& found) {
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
      if (std::string message = searchFolder(entry.path(), extension, found); !message.empty()) {
        return message;
      }
      continue;
    }
    const std::string name = entry.path().filename().string();
    if (name.size() > extension.size() && endsWith(name, extension) &&
        entry.is_regular_file(statusError)) {
      found.push_back(makeEntry(entry.path().string(), extension));
    }
  }
  if (error) {
    return "cannot read folder '" + folder.string() + "': " + error.message();
  }
  return {};
}

// Two spellings of one file share this key, so the file is evaluated once.
std::string identityOf(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(path, error);
  return error ? fs::path(path).lexically_normal().string() : canonical.string();
}

}  // namespace

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
  for (const std::string& path : paths) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      found.push_back(makeEntry(path, extension));
      continue;
    }
    const std::size_t before = found.size();
    search.error = searchFolder(path, extension, found);
    if (search.error.empty() && found.size() == before) {
      search.error = "no recordings (files ending in " + extension + ") in folder '" + path + "'";
    }
    if (!search.error.empty()) {
      return search;
    }
  }
  // A file reached twice keeps the spelling under which it was found first.
  std::set<std::string> seen;
  for (RecordingEntry& entry : found) {
    if (seen.insert(identityOf(entry.path)).second) {
      search.recordings.push_back(std::move(entry));
    }
  }
  std::sort(search.recordings.begin(), search.recordings.end(),
            [](const RecordingEntry& a, const RecordingEntry& b) { return a.path < b.path; });
  return search;
}
