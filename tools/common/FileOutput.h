// Writing output files so that a failure never leaves a partial file, or
// half of a set of files, under the final names.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Writes every (path, text) pair to a temporary file beside its final name,
// then renames them all; on any failure removes what it wrote. Returns an
// error message, or an empty string on success.
[[nodiscard]] std::string writeFilesAtomically(
    const std::vector<std::pair<std::filesystem::path, std::string>>& files);

[[nodiscard]] std::string writeFileAtomically(const std::filesystem::path& path,
                                              const std::string& text);
