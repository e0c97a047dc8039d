#include "ImportText.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TextUtils.h"

LineReader::LineReader(int fd) : fd_(fd), buffer_(new char[kMaxLineBytes + 1]) {}

LineReader::Result LineReader::next(std::string_view& line) {
  constexpr std::size_t kCapacity = kMaxLineBytes + 1;  // the longest line and its LF
  ++lineNumber_;
  std::size_t searched = begin_;
  for (;;) {
    const void* found = std::memchr(buffer_.get() + searched, '\n', end_ - searched);
    if (found != nullptr) {
      const auto newline =
          static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.get());
      std::size_t length = newline - begin_;
      if (length > 0 && buffer_[newline - 1] == '\r') {
        --length;
      }
      if (length > kMaxLineBytes) {
        return Result::TooLong;
      }
      line = std::string_view(buffer_.get() + begin_, length);
      begin_ = newline + 1;
      return Result::Line;
    }
    if (endOfInput_) {
      if (begin_ == end_) {
        --lineNumber_;
        return Result::End;
      }
      std::size_t length = end_ - begin_;
      if (buffer_[end_ - 1] == '\r') {
        --length;
      }
      line = std::string_view(buffer_.get() + begin_, length);
      begin_ = end_;
      return Result::Line;
    }
    if (begin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    searched = end_;
    if (end_ == kCapacity) {
      return Result::TooLong;
    }
    const ssize_t got = ::read(fd_, buffer_.get() + end_, kCapacity - end_);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      errorNumber_ = errno;
      return Result::ReadError;
    }
    if (got == 0) {
      endOfInput_ = true;
    }
    end_ += static_cast<std::size_t>(got);
  }
}

std::string describeReadFailure(LineReader::Result result, const LineReader& reader) {
  const std::string where = "line " + std::to_string(reader.lineNumber()) + ": ";
  if (result == LineReader::Result::TooLong) {
    return where + "longer than " + std::to_string(LineReader::kMaxLineBytes) +
           " bytes without a line end (not a text file of samples?)";
  }
  return where + "read error: " + std::strerror(reader.errorNumber());
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string formatValue(const char* pattern, double value) {
  char text[96];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string quotedExcerpt(std::string_view text, std::size_t maxBytes) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "'" + string.
  std::string out(1, '\'');
  out += excerpt(text, maxBytes);
  out += '\'';
  return out;
}

namespace {

// Escapes control bytes and bytes outside UTF-8; stops before `maxBytes`
// of output would be passed and reports whether it had to.
bool appendPrintable(std::string_view text, std::size_t maxBytes, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::string piece;
    std::size_t used = 1;
    if (byte >= 0x20 && byte < 0x7F) {
      piece = std::string(1, text[i]);
    } else if (const std::size_t length = byte >= 0x80 ? utf8Length(text.substr(i)) : 0; length > 0) {
      piece = std::string(text.substr(i, length));
      used = length;
    } else {
      piece = std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    }
    if (out.size() + piece.size() > maxBytes) {
      return false;
    }
    out += piece;
    i += used;
  }
  return true;
}

}  // namespace

bool splitFields(std::string_view line, char delimiter, std::vector<std::string>& fields) {
  fields.clear();
  std::size_t pos = 0;
  for (;;) {
    while (pos < line.size() && isBlank(line[pos]) && line[pos] != delimiter) {
      ++pos;
    }
    std::string field;
    if (pos < line.size() && line[pos] == '"') {
      ++pos;
      for (;;) {
        if (pos >= line.size()) {
          return false;
        }
        if (line[pos] == '"') {
          if (pos + 1 < line.size() && line[pos + 1] == '"') {
            field += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        field += line[pos++];
      }
      // Blanks after the closing quote are allowed; anything else joins
      // the field as written.
      const std::size_t end = std::min(line.find(delimiter, pos), line.size());
      field += std::string(trimmed(line.substr(pos, end - pos)));
      pos = end;
    } else {
      const std::size_t end = std::min(line.find(delimiter, pos), line.size());
      field = std::string(trimmed(line.substr(pos, end - pos)));
      pos = end;
    }
    fields.push_back(std::move(field));
    if (pos >= line.size()) {
      return true;
    }
    ++pos;  // the delimiter
  }
}

std::optional<double> parseNumber(std::string_view field, double limit) {
  field = trimmed(field);
  if (field.empty() || field.size() > 64) {
    return std::nullopt;
  }
  // Only the characters of a decimal number: this rules out the "nan",
  // "inf" and hexadecimal forms strtod would also take.
  for (const char c : field) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  const std::string text(field);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) || std::fabs(value) > limit) {
    return std::nullopt;
  }
  return value;
}

std::string excerpt(std::string_view text, std::size_t maxBytes) {
  return text.size() <= maxBytes ? std::string(text)
                                 : std::string(text.substr(0, maxBytes)) + "...";
}

std::string headerLine(std::string_view text) {
  std::string out;
  if (!appendPrintable(text, kMaxHeaderLineBytes - 3, out)) {
    out += "...";
  }
  return out;
}

std::string checkRecordingName(std::string_view name) {
  if (name.empty()) {
    return "an empty name";
  }
  if (name.front() == '"') {
    return "it starts with a double quote";
  }
  for (const char c : name) {
    if (c == ',') {
      return "it holds a comma";
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "it holds a control character (line break, tab or other)";
    }
  }
  return {};
}
