// Helpers for tests that run the built programs on files they write.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs bin/<program> with the arguments, in `workDir` when given.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& workDir = {});
// The same with standard input read from `input`.
RunResult runProgramOn(const std::filesystem::path& input, const std::string& program,
                       const std::vector<std::string>& args);

// A fresh, empty directory under the system's temporary folder, removed
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Writes `content` to a file in the directory and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

[[nodiscard]] std::string readFile(const std::filesystem::path& path);

// The folder of shared recordings, or an empty path when it is absent.
[[nodiscard]] std::filesystem::path sharedDir();

// Seven header lines followed by one data line per sample.
[[nodiscard]] std::string recordingText(const std::vector<std::vector<int>>& samples);

}  // namespace testsupport
