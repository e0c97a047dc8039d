#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "RecordingWriter.h"

namespace testsupport {
namespace {

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

namespace {

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& workDir, const std::filesystem::path& input) {
  static std::atomic<int> counter{0};
  const TempDir scratch;
  std::string command;
  if (!workDir.empty()) {
    command += "cd " + shellQuote(workDir.string()) + " && ";
  }
  command += shellQuote(std::string(VELMORA_BIN_DIR) + "/" + program);
  for (const std::string& arg : args) {
    command += " " + shellQuote(arg);
  }
  const auto outPath = scratch.path() / ("out" + std::to_string(counter++));
  const auto errPath = scratch.path() / ("err" + std::to_string(counter++));
  command += " >" + shellQuote(outPath.string()) + " 2>" + shellQuote(errPath.string());
  if (!input.empty()) {
    command += " <" + shellQuote(input.string());
  }
  const int status = std::system(command.c_str());
  RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& workDir) {
  return run(program, args, workDir, {});
}

RunResult runProgramOn(const std::filesystem::path& input, const std::string& program,
                       const std::vector<std::string>& args) {
  return run(program, args, {}, input);
}

TempDir::TempDir() {
  std::random_device device;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(device()));
    if (std::filesystem::create_directory(path_)) {
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& content) const {
  const auto file = path_ / name;
  std::ofstream out(file, std::ios::binary);
  out << content;
  return file;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::filesystem::path sharedDir() {
  const std::filesystem::path dir = VELMORA_SHARED_DIR;
  std::error_code ignored;
  return std::filesystem::is_directory(dir, ignored) ? dir : std::filesystem::path{};
}

std::string recordingText(const std::vector<std::vector<int>>& samples) {
  std::vector<std::string> header;
  for (int i = 0; i < 7; ++i) {
    header.push_back("header line " + std::to_string(i + 1));
  }
  std::string text = formatRecording(header, {});
  for (std::size_t index = 0; index < samples.size(); ++index) {
    const std::vector<int>& row = samples[index];
    const bool isSample = row.size() == 6 && std::all_of(row.begin(), row.end(), [](int value) {
                            return value >= std::numeric_limits<int16_t>::min() &&
                                   value <= std::numeric_limits<int16_t>::max();
                          });
    if (isSample) {
      const auto count = [&row](std::size_t i) { return static_cast<int16_t>(row[i]); };
      appendSampleLine(text, static_cast<int64_t>(index),
                       SampleRecord{count(0), count(1), count(2), count(3), count(4), count(5)});
      continue;
    }
    // A line the recording format does not allow, written as given.
    text += std::to_string(index);
    for (const int value : row) {
      text += "," + std::to_string(value);
    }
    text += "\n";
  }
  return text;
}

}  // namespace testsupport
