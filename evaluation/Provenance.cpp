#include "Provenance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "SettingsTable.h"
#include "Sha256.h"
#include "TextUtils.h"

namespace velmora::evaluation {

namespace {

constexpr std::string_view kSha256Tag = "sha256:";
constexpr std::size_t kSha256HexDigits = 64;

// Closes the descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void sortUnique(std::vector<std::string>& items) {
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
}

}  // namespace

bool SettingsProvenance::tunedOnFingerprint(const std::string& fingerprint) const {
  return std::binary_search(tunedOn.begin(), tunedOn.end(), fingerprint);
}

std::string fingerprintFile(const std::string& path, std::string& error) {
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return {};
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return {};
  }
  if (!S_ISREG(status.st_mode)) {
    error = "'" + path + "' is not a regular file";
    return {};
  }
  Sha256 hash;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      error = "cannot read '" + path + "': " + std::strerror(errno);
      return {};
    }
    if (got == 0) {
      break;
    }
    hash.add(buffer, static_cast<std::size_t>(got));
  }
  return std::string(kSha256Tag) + hash.hexDigest();
}

std::string formatTunedOn(std::vector<std::string> fingerprints) {
  sortUnique(fingerprints);
  if (fingerprints.empty()) {
    return {};
  }
  std::string text =
      "# Tuned on these " + std::to_string(fingerprints.size()) +
      " recordings (SHA-256 of each file, as sha256sum prints it); an evaluation\n"
      "# marks the recordings among them as in-sample.\n";
  for (const std::string& fingerprint : fingerprints) {
    text += std::string(kTunedOnPrefix) + fingerprint + "\n";
  }
  return text;
}

std::string readTunedOn(std::string_view text, std::string_view origin,
                        SettingsProvenance& provenance) {
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  std::vector<std::string> found;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.substr(0, kTunedOnPrefix.size()) != kTunedOnPrefix) {
      continue;
    }
    std::string_view value = line.substr(kTunedOnPrefix.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
      value.remove_suffix(1);
    }
    const std::string_view digits = value.substr(std::min(value.size(), kSha256Tag.size()));
    if (value.substr(0, kSha256Tag.size()) != kSha256Tag || digits.size() != kSha256HexDigits ||
        !std::all_of(digits.begin(), digits.end(), isHexDigit)) {
      return std::string(origin) + ":" + std::to_string(lineNumber) +
             ": a tuned-on line needs 'sha256:' and 64 lowercase hexadecimal digits";
    }
    found.emplace_back(value);
  }
  provenance.tunedOn.insert(provenance.tunedOn.end(), found.begin(), found.end());
  sortUnique(provenance.tunedOn);
  return {};
}

std::string readSettingsFile(const std::string& path, const std::string& name,
                             DetectorSettings& settings, SettingsProvenance& provenance) {
  std::string content;
  if (std::string error = readRegularFile(path, "settings file", kMaxSettingsFileBytes, content);
      !error.empty()) {
    return error;
  }
  if (std::string error = applySettingsText(settings, content, path); !error.empty()) {
    return error;
  }
  if (std::string error = readTunedOn(content, path, provenance); !error.empty()) {
    return error;
  }
  provenance.files.push_back(name);
  return {};
}

std::string inSampleNote(int64_t inSample, int64_t recordings) {
  return "in-sample: " + std::to_string(inSample) + " of " + std::to_string(recordings) +
         " recordings were used to tune these settings; their figures overstate what new "
         "people will see";
}

}  // namespace velmora::evaluation
