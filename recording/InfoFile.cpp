#include "InfoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "TextUtils.h"

namespace {

constexpr int kInfoBufferSize = 1024;  // only the first 1023 bytes count

// Keeps the low 32 bits, as the integer fields of the file are 32-bit.
int32_t lowWord(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// The first line of a small regular file (at most kMaxInfoLine bytes), or
// a problem. Opened without blocking so that a FIFO cannot stall the run.
constexpr std::size_t kMaxInfoLine = 64 * 1024;

std::string readFirstLine(const std::string& path, std::string& line) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return "is not a regular file";
  }
  line.clear();
  char chunk[4096];
  for (;;) {
    const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      const std::string reason = std::strerror(errno);
      ::close(descriptor);
      return "cannot be read: " + reason;
    }
    line.append(chunk, static_cast<std::size_t>(count));
    const auto end = line.find_first_of("\r\n");
    if (end != std::string::npos || count == 0) {
      line.resize(std::min(end, line.size()));
      break;
    }
    if (line.size() > kMaxInfoLine) {
      ::close(descriptor);
      return "has a first line longer than 64 KiB";
    }
  }
  ::close(descriptor);
  // Drovik's text reading ends the line at a NUL byte too.
  line.resize(std::min(line.find('\0'), line.size()));
  return {};
}

// A field that must be a decimal 32-bit integer and nothing else.
std::string parseInfoInteger(std::string_view text, const char* what, int32_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty()) {
    return std::string(what) + " is empty";
  }
  if (end != text.data() + text.size() ||
      (error != std::errc() && error != std::errc::result_out_of_range)) {
    return std::string(what) + " '" + std::string(text) + "' is not a decimal integer";
  }
  if (error == std::errc::result_out_of_range) {
    return std::string(what) + " " + std::string(text) + " does not fit in 32 bits";
  }
  return {};
}

}  // namespace

int32_t ReadInfoFile(const char* path, int32_t* fallPosition, int32_t* fallFlag) {
  *fallPosition = 0;
  *fallFlag = 0;
  char buffer[kInfoBufferSize];
  if (ReadTextFile(path, buffer, sizeof buffer) < 0) {
    return -1;
  }
  CutAtLineEnd(buffer);
  char* fields[3];
  if (SplitCsvFields(buffer, fields, 3) != 3) {
    return -2;
  }
  *fallPosition = lowWord(parseDecimal(fields[1]));
  *fallFlag = lowWord(parseDecimal(fields[2]));
  return 0;
}

InfoAnnotation readInfoFileStrict(const std::string& infoPath) {
  InfoAnnotation annotation;
  const auto fail = [&](const std::string& problem) {
    annotation = InfoAnnotation{};
    annotation.problem = "info file '" + infoPath + "'" + problem;
    return annotation;
  };
  std::string line;
  if (std::string problem = readFirstLine(infoPath, line); !problem.empty()) {
    return fail(" " + problem);
  }
  // Split as Drovik splits it; a fourth field, when there is one, ends the
  // third at its comma.
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  char* fields[4] = {};
  if (SplitCsvFields(buffer.data(), fields, 4) < 3) {
    return fail(" does not hold three fields on its first line");
  }
  annotation.name = fields[0];
  const std::string_view positionText = fields[1];
  const std::string_view flagText = fields[2];
  std::string problem = parseInfoInteger(positionText, "fall position", annotation.fallPosition);
  if (problem.empty()) {
    problem = parseInfoInteger(flagText, "flag", annotation.fallFlag);
  }
  if (problem.empty() && annotation.fallPosition < 0) {
    problem = "fall position " + std::to_string(annotation.fallPosition) + " is negative";
  }
  return problem.empty() ? annotation : fail(": " + problem);
}

std::string formatInfoFile(std::string_view name, int64_t fallPosition) {
  return std::string(name) + "," + std::to_string(fallPosition) + ",1\n";
}
