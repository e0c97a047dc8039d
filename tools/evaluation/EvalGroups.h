// Grouping recordings, so that the summary can be given per group: by a
// regular expression over the file name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EvalJudge.h"

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

}  // namespace velmora::evaluation
