#include "RecordingReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "TextUtils.h"

bool parseSampleLine(std::string_view line, SampleRecord& sample) {
  constexpr int kFieldsNeeded = 7;
  std::string_view fields[kFieldsNeeded];
  int count = 0;
  std::size_t pos = 0;
  while (count < kFieldsNeeded) {
    pos = line.find_first_not_of(',', pos);
    if (pos == std::string_view::npos) {
      break;
    }
    std::size_t end = line.find(',', pos);
    if (end == std::string_view::npos) {
      end = line.size();
    }
    fields[count++] = line.substr(pos, end - pos);
    pos = end;
  }
  if (count < kFieldsNeeded) {
    return false;
  }
  // The first field is skipped; the values keep their low 16 bits.
  const auto value = [&](int i) {
    return static_cast<int16_t>(static_cast<uint16_t>(parseDecimal(fields[i])));
  };
  sample = SampleRecord{value(1), value(2), value(3), value(4), value(5), value(6)};
  return true;
}

std::string parseStrictSampleLine(std::string_view line, SampleRecord& sample) {
  constexpr std::size_t kFields = 7;
  std::array<std::string_view, kFields> fields;
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(line.find(',', start), line.size());
    if (count < kFields) {
      fields[count] = line.substr(start, end - start);
    }
    ++count;
    if (end == line.size()) {
      break;
    }
    start = end + 1;
  }
  if (count != kFields) {
    return std::to_string(count) + (count == 1 ? " field" : " fields") + ", expected 7";
  }
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  if (std::all_of(fields[0].begin(), fields[0].end(), isBlank)) {
    return "the first field (the index) is empty";
  }
  std::array<int16_t, 6> values{};
  for (std::size_t i = 1; i < kFields; ++i) {
    std::string_view text = fields[i];
    while (!text.empty() && isBlank(text.front())) {
      text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
      text.remove_suffix(1);
    }
    const std::size_t digits = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    if (text.size() == digits ||
        !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digits), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return "field " + std::to_string(i + 1) + ": not an integer";
    }
    const int64_t value = parseDecimal(text);
    if (value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max()) {
      return "field " + std::to_string(i + 1) + ": " +
             std::string(text.substr(0, std::min<std::size_t>(text.size(), 24))) +
             " is outside the signed 16-bit range";
    }
    values[i - 1] = static_cast<int16_t>(value);
  }
  sample = SampleRecord{values[0], values[1], values[2], values[3], values[4], values[5]};
  return {};
}

RecordingReader::~RecordingReader() { close(); }

std::string notARegularFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) {
    return {};
  }
  return S_ISDIR(status.st_mode) ? "is a folder"
                                 : "is not a regular file (a device, FIFO or socket)";
}

std::string namedRecordingProblem(const std::string& path) {
  const std::string reason = notARegularFile(path);
  return reason.empty() ? std::string() : "recording '" + path + "' " + reason;
}

bool RecordingReader::open(const char* path, bool regularOnly) {
  close();
  if (regularOnly) {
    // Opened without blocking, so that a FIFO does not wait for a writer,
    // then read as usual once it is known to be a regular file.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (file_ = ::fdopen(fd, "r")) == nullptr) {
      ::close(fd);
      return false;
    }
  } else {
    file_ = std::fopen(path, "r");
  }
  if (file_ == nullptr) {
    return false;
  }
  // A directory opens on Linux but fails on the first read; so does a file
  // we may not read. Both count as not opened.
  const int first = std::getc(file_);
  if (first == EOF && std::ferror(file_) != 0) {
    close();
    return false;
  }
  if (first != EOF) {
    std::ungetc(first, file_);
  }
  return true;
}

void RecordingReader::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool RecordingReader::readPiece() {
  if (file_ == nullptr || std::fgets(buffer_, kLineBufferSize, file_) == nullptr) {
    return false;
  }
  ++linesRead_;
  return true;
}

void RecordingReader::skipHeader() {
  for (int i = 0; i < kHeaderLines; ++i) {
    if (!readPiece()) {
      return;
    }
  }
}

RecordingReader::Status RecordingReader::next(SampleRecord& sample) {
  if (!readPiece()) {
    return Status::End;
  }
  ++dataLines_;
  // The text ends at the first NUL, as it would for any C string.
  if (parseSampleLine(std::string_view(buffer_, std::strlen(buffer_)), sample)) {
    return Status::Sample;
  }
  ++shortLines_;
  if (firstShort_.size() < kShortLinesKept) {
    firstShort_.push_back(linesRead_);
  }
  return Status::Short;
}

std::string describeShortLines(const RecordingReader& reader) {
  if (reader.shortLines() == 0) {
    return {};
  }
  std::string text = std::to_string(reader.shortLines()) +
                     (reader.shortLines() == 1 ? " data line" : " data lines") +
                     " with fewer than seven fields skipped (line";
  text += reader.firstShortLineNumbers().size() == 1 ? " " : "s ";
  for (std::size_t i = 0; i < reader.firstShortLineNumbers().size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(reader.firstShortLineNumbers()[i]);
  }
  if (static_cast<std::size_t>(reader.shortLines()) > reader.firstShortLineNumbers().size()) {
    text += ", ...";
  }
  text += ")";
  return text;
}
