// Grouping recordings, so that the summary can be given per group: by a
// regular expression over the file name, by a column of a folder's
// index.tsv, or by several such keys at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EvalJudge.h"
#include "EvalRecordings.h"

namespace velmora::evaluation {

// A compiled grouping pattern: the group of a recording is the first
// capture group of the pattern (RE2 syntax) searched in its file name.
class GroupPattern {
 public:
  // Compiles `pattern`; returns null and sets `error` for a pattern that does
  // not compile or has no capture group.
  [[nodiscard]] static std::unique_ptr<GroupPattern> compile(const std::string& pattern,
                                                             std::string& error);
  ~GroupPattern();
  GroupPattern(const GroupPattern&) = delete;
  GroupPattern& operator=(const GroupPattern&) = delete;

  [[nodiscard]] const std::string& pattern() const { return pattern_; }

  // The group of the recording at `path` ("" when the pattern does not
  // match, or the first group is empty or does not take part). Sets `error`
  // when the matcher gives up on the name.
  [[nodiscard]] std::string groupOf(const std::string& path, std::string& error) const;

 private:
  struct Compiled;
  explicit GroupPattern(std::string pattern, std::unique_ptr<Compiled> compiled);
  std::string pattern_;
  std::unique_ptr<Compiled> compiled_;
};

// Names each result's group with `pattern`. Returns an error message, or ""
// on success.
[[nodiscard]] std::string assignGroups(const GroupPattern& pattern,
                                       std::vector<RecordingResult>& results);

// One key of a grouping.
struct GroupKey {
  enum class Kind {
    Pattern,  // first capture group of a regular expression over the file name
    Column,   // a column of the index.tsv beside the recording
  };
  Kind kind = Kind::Pattern;
  std::string text;  // the pattern, or the column name
};

// Separates the values of several keys in a group's name ("F01/SA01").
inline constexpr char kGroupKeySeparator[] = "/";

struct GroupNames {
  // One per recording: the values of the keys joined by kGroupKeySeparator,
  // or "" when any key has no value for it.
  std::vector<std::string> groups;
  std::vector<std::string> indexFiles;  // the index.tsv files read, sorted
  std::string error;                    // bad keys: nothing was named
};

// Names the group of every recording. A column key reads the nearest
// index.tsv at or above the recording's folder (up to the searched folder
// it was found in; only its own folder for a named file) and looks the
// recording up by its path relative to the index's folder. Errors: a
// pattern RE2 refuses or without a capture group, no index.tsv beside any
// recording, an index.tsv without a 'file' column, or one without the
// named column.
[[nodiscard]] GroupNames nameGroups(const std::vector<RecordingEntry>& recordings,
                                    const std::vector<GroupKey>& keys);

// "first capture group of 'P' in the file name", "index.tsv column 'C'",
// joined by ", then ".
[[nodiscard]] std::string describeGroupKeys(const std::vector<GroupKey>& keys);

}  // namespace velmora::evaluation
