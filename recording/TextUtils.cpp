#include "TextUtils.h"

#include <cstdio>
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
