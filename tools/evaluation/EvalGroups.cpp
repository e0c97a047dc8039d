#include "EvalGroups.h"

#include <filesystem>
#include <regex>

namespace velmora::evaluation {

struct GroupPattern::Compiled {
  std::regex regex;
};

GroupPattern::GroupPattern(std::string pattern, std::unique_ptr<Compiled> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

GroupPattern::~GroupPattern() = default;

std::unique_ptr<GroupPattern> GroupPattern::compile(const std::string& pattern,
                                                    std::string& error) {
  auto compiled = std::make_unique<Compiled>();
  try {
    compiled->regex = std::regex(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error& failure) {
    error =
        "--group-by: '" + pattern + "' is not a valid regular expression (" + failure.what() + ")";
    return nullptr;
  }
  if (compiled->regex.mark_count() < 1) {
    error = "--group-by: '" + pattern + "' has no capture group to name the groups";
    return nullptr;
  }
  return std::unique_ptr<GroupPattern>(new GroupPattern(pattern, std::move(compiled)));
}

std::string GroupPattern::groupOf(const std::string& path, std::string& error) const {
  const std::string name = std::filesystem::path(path).filename().string();
  std::smatch match;
  try {
    if (std::regex_search(name, match, compiled_->regex) && match[1].matched) {
      return match[1].str();
    }
  } catch (const std::regex_error& failure) {
    // The matcher gives up on patterns that would take too long.
    error = "--group-by: '" + pattern_ + "' failed on '" + name + "' (" + failure.what() + ")";
  }
  return {};
}

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

}  // namespace velmora::evaluation
