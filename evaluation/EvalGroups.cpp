#include "EvalGroups.h"

#include <algorithm>
#include <filesystem>
#include <map>

#ifdef VELMORA_HAVE_RE2
#include <re2/re2.h>
#endif

namespace velmora::evaluation {

#ifdef VELMORA_HAVE_RE2

// RE2 matches in time linear in the length of the name, whatever the
// pattern, so no pattern can stall a run; in exchange it refuses the few
// constructs that would need backtracking (back-references, look-around).
struct GroupPattern::Compiled {
  explicit Compiled(const std::string& pattern, const RE2::Options& options)
      : regex(pattern, options) {}
  RE2 regex;
};

namespace {
RE2::Options patternOptions() {
  RE2::Options options;
  options.set_log_errors(false);  // errors are reported by the caller, once
  return options;
}
}  // namespace

std::unique_ptr<GroupPattern> GroupPattern::compile(const std::string& pattern,
                                                    std::string& error) {
  auto compiled = std::make_unique<Compiled>(pattern, patternOptions());
  if (!compiled->regex.ok()) {
    error = "--group-by: '" + pattern + "' is not a regular expression RE2 accepts (" +
            compiled->regex.error() + ")";
    return nullptr;
  }
  if (compiled->regex.NumberOfCapturingGroups() < 1) {
    error = "--group-by: '" + pattern + "' has no capture group to name the groups";
    return nullptr;
  }
  return std::unique_ptr<GroupPattern>(new GroupPattern(pattern, std::move(compiled)));
}

std::string GroupPattern::groupOf(const std::string& path, std::string& /*error*/) const {
  const std::string name = std::filesystem::path(path).filename().string();
  re2::StringPiece group;
  // A group that does not take part in the match has no data.
  if (RE2::PartialMatch(name, compiled_->regex, &group) && group.data() != nullptr) {
    return std::string(group.data(), group.size());
  }
  return {};
}

#else

struct GroupPattern::Compiled {};

std::unique_ptr<GroupPattern> GroupPattern::compile(const std::string& pattern,
                                                    std::string& error) {
  error = "--group-by: '" + pattern +
          "' cannot be used: this build has no RE2 (install the Debian package libre2-dev and "
          "configure again)";
  return nullptr;
}

std::string GroupPattern::groupOf(const std::string& /*path*/, std::string& /*error*/) const {
  return {};
}

#endif

GroupPattern::GroupPattern(std::string pattern, std::unique_ptr<Compiled> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

GroupPattern::~GroupPattern() = default;

std::string assignGroups(const GroupPattern& pattern, std::vector<RecordingResult>& results) {
  for (RecordingResult& result : results) {
    std::string error;
    result.group = pattern.groupOf(result.path, error);
    if (!error.empty()) {
      return error;
    }
  }
  return {};
}

namespace {

namespace fs = std::filesystem;

constexpr char kIndexName[] = "index.tsv";

// The index files met so far, by folder; a folder without one maps to null.
class IndexCache {
 public:
  // The index.tsv in `folder`, or null when there is none. Sets `error` for
  // one that cannot be used.
  const IndexTable* in(const fs::path& folder, std::string& error) {
    const std::string key = folder.string();
    if (const auto known = tables_.find(key); known != tables_.end()) {
      return known->second.get();
    }
    const fs::path path = folder / kIndexName;
    std::error_code ignored;
    std::unique_ptr<IndexTable> table;
    if (fs::exists(path, ignored)) {
      table = std::make_unique<IndexTable>();
      error = readIndexTable(path, *table);
      if (!error.empty()) {
        return nullptr;
      }
      files_.push_back(path.string());
    }
    return (tables_[key] = std::move(table)).get();
  }

  [[nodiscard]] const std::vector<std::string>& files() const { return files_; }

 private:
  std::map<std::string, std::unique_ptr<IndexTable>> tables_;
  std::vector<std::string> files_;
};

// The nearest index.tsv for a recording and the recording's name in it.
const IndexTable* indexFor(const RecordingEntry& entry, IndexCache& cache, std::string& name,
                           std::string& error) {
  const fs::path recording(entry.path);
  // "data/" and "data" name one folder.
  fs::path root = fs::path(entry.root).lexically_normal();
  if (root.has_parent_path() && !root.has_filename()) {
    root = root.parent_path();
  }
  for (fs::path folder = recording.parent_path();; folder = folder.parent_path()) {
    const fs::path normalFolder = (folder.empty() ? fs::path(".") : folder).lexically_normal();
    if (const IndexTable* table = cache.in(normalFolder, error); table != nullptr) {
      name = recording.lexically_relative(normalFolder).generic_string();
      return table;
    }
    if (!error.empty() || entry.root.empty() || normalFolder == root || folder.empty() ||
        folder == folder.parent_path()) {
      return nullptr;
    }
  }
}

}  // namespace

GroupNames nameGroups(const std::vector<RecordingEntry>& recordings,
                      const std::vector<GroupKey>& keys) {
  GroupNames names;
  names.groups.assign(recordings.size(), std::string());
  std::vector<std::vector<std::string>> values(recordings.size());
  IndexCache cache;
  for (const GroupKey& key : keys) {
    if (key.kind == GroupKey::Kind::Pattern) {
      std::unique_ptr<GroupPattern> pattern = GroupPattern::compile(key.text, names.error);
      if (!pattern) {
        return names;
      }
      for (std::size_t i = 0; i < recordings.size(); ++i) {
        values[i].push_back(pattern->groupOf(recordings[i].path, names.error));
        if (!names.error.empty()) {
          return names;
        }
      }
      continue;
    }
    bool anyIndex = false;
    for (std::size_t i = 0; i < recordings.size(); ++i) {
      std::string name;
      const IndexTable* table = indexFor(recordings[i], cache, name, names.error);
      if (!names.error.empty()) {
        names.error = "--group-by-column: " + names.error;
        return names;
      }
      std::string value;
      if (table != nullptr) {
        anyIndex = true;
        const int column = table->columnIndex(key.text);
        if (column < 0) {
          names.error = "--group-by-column: the index.tsv beside '" + recordings[i].path +
                        "' has no column '" + key.text + "'";
          return names;
        }
        if (const std::vector<std::string>* row = table->rowFor(name); row != nullptr) {
          value = (*row)[static_cast<std::size_t>(column)];
        }
      }
      values[i].push_back(value);
    }
    if (!anyIndex) {
      names.error = "--group-by-column " + key.text +
                    ": no index.tsv (with a 'file' column) beside the recordings or in the "
                    "folders searched";
      return names;
    }
  }
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    std::string group;
    for (const std::string& value : values[i]) {
      if (value.empty()) {
        group.clear();
        break;
      }
      group += (group.empty() ? "" : kGroupKeySeparator) + value;
    }
    names.groups[i] = std::move(group);
  }
  names.indexFiles = cache.files();
  std::sort(names.indexFiles.begin(), names.indexFiles.end());
  return names;
}

std::string describeGroupKeys(const std::vector<GroupKey>& keys) {
  std::string text;
  for (const GroupKey& key : keys) {
    text += text.empty() ? "" : ", then ";
    text += key.kind == GroupKey::Kind::Pattern
                ? "first capture group of '" + key.text + "' in the file name"
                : "index.tsv column '" + key.text + "'";
  }
  return text;
}

}  // namespace velmora::evaluation
