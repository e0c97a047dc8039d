#include "GroupPattern.h"

#include <filesystem>
#include <regex>

std::string assignGroups(const std::string& pattern, std::vector<RecordingResult>& results) {
  std::regex regex;
  try {
    regex = std::regex(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    return "--group-by: '" + pattern + "' is not a valid regular expression (" + error.what() + ")";
  }
  if (regex.mark_count() < 1) {
    return "--group-by: '" + pattern + "' has no capture group to name the groups";
  }
  for (RecordingResult& result : results) {
    const std::string name = std::filesystem::path(result.path).filename().string();
    std::smatch match;
    try {
      if (std::regex_search(name, match, regex) && match[1].matched) {
        result.group = match[1].str();
      }
    } catch (const std::regex_error& error) {
      // The matcher gives up on patterns that would take too long.
      return "--group-by: '" + pattern + "' failed on '" + name + "' (" + error.what() + ")";
    }
  }
  return {};
}
