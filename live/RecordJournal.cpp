#include "RecordJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <stdexcept>

#include "RecordingWriter.h"

RecordJournal::~RecordJournal() {
  if (fd_ >= 0) {
    (void)flush();
    ::close(fd_);
  }
}

std::string RecordJournal::open(const std::string& path,
                                const std::vector<std::string>& headerLines) {
  try {
    pending_ = formatRecording(headerLines, std::span<const SampleRecord>());
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    return "--record '" + path + "': " + std::strerror(errno) +
           (errno == EEXIST ? " (the journal never replaces a file; choose a new name)" : "");
  }
  path_ = path;
  pending_.reserve(kFlushBytes + 64);
  return flush();
}

void RecordJournal::append(int64_t position, const SampleRecord& sample) {
  if (fd_ < 0 || hasFailed()) {
    return;
  }
  appendSampleLine(pending_, position, sample);
  if (pending_.size() >= kFlushBytes) {
    (void)flush();
  }
}

std::string RecordJournal::flush() {
  if (fd_ < 0 || hasFailed()) {
    return error_;
  }
  std::size_t written = 0;
  while (written < pending_.size()) {
    const ssize_t done = ::write(fd_, pending_.data() + written, pending_.size() - written);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      error_ = "--record '" + path_ +
               "': " + (done < 0 ? std::strerror(errno) : "nothing written") +
               "; recording stopped";
      pending_.clear();
      return error_;
    }
    written += static_cast<std::size_t>(done);
  }
  pending_.clear();
  return {};
}
