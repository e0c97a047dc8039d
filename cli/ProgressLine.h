// A progress line on standard error for long runs of the command-line tools.
#pragma once

#include <chrono>
#include <string_view>

// "<program>: <text>" on standard error, drawn over itself with a carriage
// return, redrawn at most ten times a second, and only when standard error
// is a terminal (a log file or pipe gets nothing).
class ProgressLine {
 public:
  ProgressLine();
  // Draws `text`; `force` draws it even within a tenth of a second of the
  // last redraw (the final count, say).
  void show(std::string_view text, bool force = false);
  // Wipes the line so that messages and tables start on a clean line.
  void clear();

 private:
  bool enabled_;
  int shown_ = 0;  // widest line on screen since the last clear
  std::chrono::steady_clock::time_point last_{};
};
