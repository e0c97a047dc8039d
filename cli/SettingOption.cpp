#include "SettingOption.h"

#include <string_view>

#include "SettingsTable.h"

bool takeSetOption(int argc, char** argv, int& i, DetectorSettings& settings, std::string& error) {
  const std::string_view arg = argv[i];
  constexpr std::string_view kJoined = "--set=";
  std::string_view assignment;
  if (arg == "--set") {
    if (i + 1 >= argc) {
      error = "--set needs NAME=VALUE";
      return true;
    }
    assignment = argv[++i];
  } else if (arg.substr(0, kJoined.size()) == kJoined) {
    assignment = arg.substr(kJoined.size());
  } else {
    return false;
  }
  error = applySetting(settings, assignment);
  return true;
}
