#include "TextUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

int32_t ReadTextFile(const char* path, char* buffer, std::size_t size) {
  if (size == 0) {
    return -1;
  }
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    return -1;
  }
  const std::size_t count = std::fread(buffer, 1, size - 1, file);
  // A directory opens but cannot be read: treat it like a missing file.
  const bool failed = count == 0 && std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    return -1;
  }
  buffer[count] = '\0';
  return static_cast<int32_t>(count);
}

int32_t CutAtLineEnd(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == '\r' || *p == '\n') {
      *p = '\0';
      break;
    }
  }
  return 0;
}

int32_t SplitCsvFields(char* line, char** fields, int32_t maxFields) {
  int32_t count = 0;
  char* p = line;
  while (count < maxFields && *p != '\0') {
    fields[count] = p;
    if (*p == '"') {
      ++p;
      while (*p != '\0' && *p != '"') {
        ++p;
      }
      if (*p == '"') {
        ++p;
      }
    }
    while (*p != '\0' && *p != ',') {
      ++p;
    }
    if (*p == ',') {
      *p = '\0';
      ++p;
    }
    ++count;
  }
  return count;
}

int64_t parseDecimal(std::string_view text) {
  std::size_t i = 0;
  const auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && isSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Magnitude limit: 2^63 - 1 for positive values, 2^63 for negative ones.
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  // Up to this value, ten times it plus any digit stays within both limits,
  // so the exact check (and its division) is needed only for long numbers.
  constexpr uint64_t kAlwaysFits = ((uint64_t{1} << 63) - 1 - 9) / 10;
  uint64_t magnitude = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    // Once saturated, magnitude stays above kAlwaysFits.
    if (magnitude > kAlwaysFits && (saturated || magnitude > (limit - digit) / 10)) {
      saturated = true;
      continue;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (saturated) {
    magnitude = limit;
  }
  if (negative) {
    // -(2^63) is representable; go through unsigned negation to reach it.
    return static_cast<int64_t>(~magnitude + 1);
  }
  return static_cast<int64_t>(magnitude);
}

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::size_t utf8Length(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

std::string readRegularFile(const std::string& path, std::string_view role, std::size_t maxBytes,
                            std::string& text) {
  const std::string name = std::string(role) + " '" + path + "'";
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return "cannot read " + name + ": " + std::strerror(errno);
  }
  struct stat status {};
  std::string problem;
  if (::fstat(fd, &status) != 0) {
    problem = "cannot read " + name + ": " + std::strerror(errno);
  } else if (S_ISDIR(status.st_mode)) {
    problem = name + " is a folder";
  } else if (!S_ISREG(status.st_mode)) {
    problem = name + " is not a regular file (a device, FIFO or socket)";
  } else if (static_cast<std::size_t>(status.st_size) > maxBytes) {
    problem = name + " is larger than " + std::to_string(maxBytes) + " bytes";
  }
  if (!problem.empty()) {
    ::close(fd);
    return problem;
  }
  // The size may change while reading; read at most one byte past the limit.
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem = "cannot read " + name + ": " + std::strerror(errno);
      break;
    }
    if (got == 0) {
      break;
    }
    content.append(buffer, static_cast<std::size_t>(got));
    if (content.size() > maxBytes) {
      problem = name + " is larger than " + std::to_string(maxBytes) + " bytes";
      break;
    }
  }
  ::close(fd);
  if (problem.empty()) {
    text = std::move(content);
  }
  return problem;
}

bool isValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = static_cast<unsigned char>(text[0]) < 0x80 ? 1 : utf8Length(text);
    if (length == 0) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}
