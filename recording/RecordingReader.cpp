#include "RecordingReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
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
