#include "ProgressLine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "CommandLine.h"

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::show(std::string_view text, bool force) {
  if (!enabled_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!force && shown_ > 0 && now - last_ < std::chrono::milliseconds(100)) {
    return;
  }
  last_ = now;
  const std::string line = programName() + ": " + std::string(text);
  const int length = static_cast<int>(line.size());
  std::fprintf(stderr, "\r%s%*s", line.c_str(), std::max(0, shown_ - length), "");
  std::fflush(stderr);
  shown_ = std::max(shown_, length);
}

void ProgressLine::clear() {
  if (enabled_ && shown_ > 0) {
    std::fprintf(stderr, "\r%*s\r", shown_, "");
    std::fflush(stderr);
    shown_ = 0;
  }
}
