// Settings profiles: settings files shipped with the tools and chosen by
// name (--profile fa1, velmora.profile("fa1") in Python). A profile NAME is
// the file NAME.settings in the profiles folder, share/velmora/profiles
// below the install prefix. The build tree has the same layout (programs in
// bin/, profiles in share/velmora/profiles/), so one rule finds them in
// both: the folder ../share/velmora/profiles beside a program's folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The profiles folder relative to the install prefix.
inline constexpr char kProfilesFolder[] = "share/velmora/profiles";

// The folder of the running program (from /proc/self/exe, links resolved),
// or an empty path when the system does not say.
[[nodiscard]] std::filesystem::path runningProgramFolder();

// The profiles folder for a program in `programFolder`: its
// ../share/velmora/profiles.
[[nodiscard]] std::filesystem::path profilesFolderBeside(const std::filesystem::path& programFolder);

// The profile names (file names without ".settings") in the folders, sorted,
// each once.
[[nodiscard]] std::vector<std::string> profileNames(
    const std::vector<std::filesystem::path>& folders);

// The settings file of profile `name`: the first of the folders that holds
// NAME.settings. A name is letters, digits, '.', '_' and '-', not starting
// with '.' (no paths). Returns the path, or "" with `error` saying what is
// wrong and naming the profiles there are.
[[nodiscard]] std::string findProfile(const std::string& name,
                                      const std::vector<std::filesystem::path>& folders,
                                      std::string& error);
