// Splitting a byte stream into lines without ever holding more than one:
// a line longer than the limit is reported once as overlong and the rest of
// it is dropped up to its line end, so memory stays at one line however
// long the input runs or whatever it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

class LineSplitter {
 public:
  // Longest line kept, in bytes, without its LF (or CR LF).
  static constexpr std::size_t kMaxLineBytes = 1024;

  explicit LineSplitter(std::size_t maxLineBytes = kMaxLineBytes) : maxLineBytes_(maxLineBytes) {
    // One byte more for the CR of a CR LF ending.
    buffer_.reserve(maxLineBytes_ + 1);
  }

  // Calls onLine(std::string_view line, bool overlong) for every line the
  // bytes complete. An overlong line's view holds its first bytes only.
  template <typename OnLine>
  void feed(std::string_view bytes, OnLine&& onLine) {
    while (!bytes.empty()) {
      const std::size_t end = bytes.find('\n');
      append(bytes.substr(0, end));
      if (end == std::string_view::npos) {
        return;
      }
      emit(onLine);
      bytes.remove_prefix(end + 1);
    }
  }

  // At the end of the input: a last line without a line end.
  template <typename OnLine>
  void finish(OnLine&& onLine) {
    if (!buffer_.empty() || overlong_) {
      emit(onLine);
    }
  }

  // Drops a partly received line (the source started over).
  void reset() {
    buffer_.clear();
    overlong_ = false;
  }

  [[nodiscard]] bool holdsPartialLine() const { return !buffer_.empty() || overlong_; }

 private:
  void append(std::string_view piece) {
    const std::size_t room = maxLineBytes_ + 1 - buffer_.size();
    if (piece.size() > room) {
      overlong_ = true;
      piece = piece.substr(0, room);
    }
    buffer_.append(piece);
  }

  template <typename OnLine>
  void emit(OnLine& onLine) {
    std::string_view line = buffer_;
    if (!overlong_ && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const bool overlong = overlong_ || line.size() > maxLineBytes_;
    onLine(overlong ? line.substr(0, std::min(line.size(), maxLineBytes_)) : line, overlong);
    reset();
  }

  std::size_t maxLineBytes_;
  std::string buffer_;
  bool overlong_ = false;
};
