#include "SettingOption.h"

#include <cstdint>
#include <optional>

#include "SettingsProfiles.h"
#include "SettingsTable.h"

OptionTable settingsOptions(DetectorSettings& settings, std::vector<std::string>& settingsFiles) {
  OptionTable table;
  table.push_back({{"--set"},
                   true,
                   [&settings](const std::string&, const std::string& assignment) {
                     return applySetting(settings, assignment);
                   },
                   false,
                   "--set needs NAME=VALUE"});
  table.push_back({{"--settings"},
                   true,
                   [&settings, &settingsFiles](const std::string&, const std::string& path) {
                     if (path == "-") {
                       return std::string(
                           "--settings needs a file: '-' (standard input) cannot be read; write "
                           "./- for a file named '-'");
                     }
                     if (path.empty()) {
                       return std::string("--settings needs a file name");
                     }
                     settingsFiles.push_back(path);
                     return applySettingsFile(settings, path);
                   },
                   false,
                   "--settings needs a file"});
  // A shipped profile is a settings file found by name beside the program
  // (../share/velmora/profiles), in the build tree as in an install.
  table.push_back({{"--profile"},
                   true,
                   [&settings, &settingsFiles](const std::string&, const std::string& name) {
                     std::string error;
                     const std::string path = findProfile(
                         name, {profilesFolderBeside(runningProgramFolder())}, error);
                     if (path.empty()) {
                       return "--profile: " + error;
                     }
                     settingsFiles.push_back(path);
                     return applySettingsFile(settings, path);
                   },
                   false,
                   "--profile needs a profile name (fa0.25, fa0.5, fa1, fa2)"});
  return table;
}

OptionSpec jobsOption(int& jobs) {
  return {{"-j", "--jobs"},
          true,
          [&jobs](const std::string& spelled, const std::string& value) {
            const std::optional<int32_t> parsed = parseInt32(value);
            if (!parsed || *parsed < 1 || *parsed > kMaxJobs) {
              return spelled + ": '" + value + "' is not a number of jobs in 1.." +
                     std::to_string(kMaxJobs);
            }
            jobs = *parsed;
            return std::string();
          }};
}
