#include "SettingsProfiles.h"

#include <algorithm>
#include <system_error>

namespace {

constexpr char kProfileExtension[] = ".settings";

bool isProfileName(const std::string& name) {
  return !name.empty() && name.front() != '.' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '-';
         });
}

}  // namespace

std::filesystem::path runningProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
}

std::filesystem::path profilesFolderBeside(const std::filesystem::path& programFolder) {
  return (programFolder / ".." / kProfilesFolder).lexically_normal();
}

std::vector<std::string> profileNames(const std::vector<std::filesystem::path>& folders) {
  std::vector<std::string> names;
  for (const std::filesystem::path& folder : folders) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      const std::filesystem::path& file = it->path();
      if (file.extension() == kProfileExtension && isProfileName(file.stem().string()) &&
          it->is_regular_file(error)) {
        names.push_back(file.stem().string());
      }
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string findProfile(const std::string& name, const std::vector<std::filesystem::path>& folders,
                        std::string& error) {
  if (!isProfileName(name)) {
    error = "'" + name +
            "' cannot name a profile: a name is letters, digits, '.', '_' and '-' (give a "
            "settings file with --settings)";
    return {};
  }
  for (const std::filesystem::path& folder : folders) {
    const std::filesystem::path file = folder / (name + kProfileExtension);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(file, ignored)) {
      return file.string();
    }
  }
  std::string where;
  for (const std::filesystem::path& folder : folders) {
    where += (where.empty() ? "" : ", ") + folder.string();
  }
  const std::vector<std::string> names = profileNames(folders);
  std::string known;
  for (const std::string& profile : names) {
    known += (known.empty() ? "" : ", ") + profile;
  }
  error = "no profile '" + name + "' in " + (where.empty() ? "(no folder)" : where) +
          (names.empty() ? std::string("; no profiles are installed there")
                         : "; profiles: " + known);
  return {};
}
