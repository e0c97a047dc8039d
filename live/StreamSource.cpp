#include "StreamSource.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Bytes read per pump() at most, so that signals and timers are served
// between chunks of a fast stream.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kReadBytes = 4096;

std::string quotedPath(const std::string& path) { return "'" + path + "'"; }

std::string waitedText(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

// ---- standard input ---------------------------------------------------------

class StandardInputSource final : public StreamSource {
 public:
  [[nodiscard]] int descriptor() const override { return ended_ ? -1 : 0; }
  [[nodiscard]] int serviceInMs(int64_t) const override { return -1; }

  bool pump(int64_t, const OnBytes& onBytes, const OnEvent& onEvent) override {
    if (ended_) {
      return false;
    }
    std::array<char, kReadBytes> buffer{};
    // One read per call: standard input is left blocking (its open file
    // description may be shared with other programs), and poll() said that
    // one read will not block.
    const ssize_t got = ::read(0, buffer.data(), buffer.size());
    if (got > 0) {
      onBytes(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
      return true;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    }
    if (got < 0) {
      onEvent({SourceEvent::Kind::Notice,
               std::string("reading standard input failed: ") + std::strerror(errno)});
    }
    ended_ = true;
    return false;
  }

  [[nodiscard]] std::string name() const override { return "standard input"; }

 private:
  bool ended_ = false;
};

// ---- a followed file -----------------------------------------------------------

class FollowedFile final : public StreamSource {
 public:
  explicit FollowedFile(std::string path) : path_(std::move(path)) {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  FollowedFile(const FollowedFile&) = delete;
  FollowedFile& operator=(const FollowedFile&) = delete;
  ~FollowedFile() override {
    closeFile();
    if (inotify_ >= 0) {
      ::close(inotify_);
    }
  }

  [[nodiscard]] int descriptor() const override { return fd_ >= 0 ? inotify_ : -1; }

  [[nodiscard]] int serviceInMs(int64_t nowMs) const override {
    if (pending_) {
      return 0;  // the last pump stopped at its limit, not at the end
    }
    // Without a file, or without inotify, look again soon; with both, the
    // path is checked for replacement now and then.
    const int64_t period = fd_ < 0 ? kWaitMs : (inotify_ < 0 ? kPollMs : kCheckMs);
    return static_cast<int>(std::max<int64_t>(0, lastCheckMs_ + period - nowMs));
  }

  bool pump(int64_t nowMs, const OnBytes& onBytes, const OnEvent& onEvent) override {
    drainInotify();
    if (fd_ < 0) {
      lastCheckMs_ = nowMs;
      if (!openFile(onEvent)) {
        return true;
      }
    }
    std::size_t total = 0;
    std::array<char, kReadBytes> buffer{};
    while (total < kChunkBytes) {
      const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
      if (got > 0) {
        offset_ += got;
        total += static_cast<std::size_t>(got);
        onBytes(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        continue;
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      break;  // the end for now (or a read error: checked below)
    }
    pending_ = total >= kChunkBytes;
    // Only at the end of what is there: a replaced file is read to its end.
    if (total == 0) {
      lastCheckMs_ = nowMs;
      checkPath(onEvent);
    }
    return true;
  }

  [[nodiscard]] std::string name() const override { return quotedPath(path_); }

 private:
  static constexpr int64_t kWaitMs = 200;   // looking for a file that is absent
  static constexpr int64_t kPollMs = 50;    // reading without inotify
  static constexpr int64_t kCheckMs = 500;  // checking for replacement and truncation

  bool openFile(const OnEvent& onEvent) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (!waitingReported_) {
        onEvent({SourceEvent::Kind::Notice,
                 quotedPath(path_) + ": " + std::strerror(errno) + "; waiting for it to appear"});
        waitingReported_ = true;
      }
      return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd);
      if (!waitingReported_) {
        onEvent({SourceEvent::Kind::Notice,
                 quotedPath(path_) + ": a folder, not a file; waiting for a file there"});
        waitingReported_ = true;
      }
      return false;
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    offset_ = 0;
    if (waitingReported_) {
      onEvent({SourceEvent::Kind::Notice, quotedPath(path_) + ": appeared; following it"});
      waitingReported_ = false;
    }
    if (inotify_ >= 0) {
      watch_ = ::inotify_add_watch(
          inotify_, path_.c_str(),
          IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
    }
    return true;
  }

  void closeFile() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    if (watch_ >= 0 && inotify_ >= 0) {
      ::inotify_rm_watch(inotify_, watch_);
      watch_ = -1;
    }
  }

  void drainInotify() {
    if (inotify_ < 0) {
      return;
    }
    alignas(inotify_event) std::array<char, 4096> events{};
    while (::read(inotify_, events.data(), events.size()) > 0) {
    }
  }

  // At the end of what is there: a truncated file is read again from its
  // start, a replaced one is left for the file now at the path.
  void checkPath(const OnEvent& onEvent) {
    struct stat open {};
    if (::fstat(fd_, &open) == 0 && open.st_size < offset_) {
      ::lseek(fd_, 0, SEEK_SET);
      offset_ = 0;
      onEvent({SourceEvent::Kind::Restart,
               quotedPath(path_) + ": truncated; reading it from its start"});
      return;
    }
    struct stat now {};
    if (::stat(path_.c_str(), &now) != 0) {
      return;  // gone for now: keep the open file, a new one may come
    }
    if (now.st_dev != device_ || now.st_ino != inode_) {
      closeFile();
      onEvent(
          {SourceEvent::Kind::Restart, quotedPath(path_) + ": replaced; following the new file"});
    }
  }

  std::string path_;
  int inotify_ = -1;
  int watch_ = -1;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t offset_ = 0;
  int64_t lastCheckMs_ = 0;
  bool waitingReported_ = false;
  bool pending_ = false;
};

// ---- a serial device -----------------------------------------------------------

class SerialDevice final : public StreamSource {
 public:
  SerialDevice(std::string path, unsigned speed) : path_(std::move(path)), speed_(speed) {}
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;
  ~SerialDevice() override { closeDevice(); }

  [[nodiscard]] int descriptor() const override { return fd_; }

  [[nodiscard]] int serviceInMs(int64_t nowMs) const override {
    if (fd_ >= 0) {
      return -1;
    }
    return static_cast<int>(std::max<int64_t>(0, nextAttemptMs_ - nowMs));
  }

  bool pump(int64_t nowMs, const OnBytes& onBytes, const OnEvent& onEvent) override {
    if (fd_ < 0) {
      if (nowMs >= nextAttemptMs_) {
        tryOpen(nowMs, onEvent);
      }
      return true;
    }
    std::size_t total = 0;
    std::array<char, kReadBytes> buffer{};
    while (total < kChunkBytes) {
      const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
      if (got > 0) {
        total += static_cast<std::size_t>(got);
        onBytes(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        continue;
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return true;
      }
      // End of file on a terminal is a hang-up; an error (EIO when a USB
      // adapter is pulled) ends this opening of the device too.
      lose(nowMs, got == 0 ? std::string("hung up") : std::string(std::strerror(errno)), onEvent);
      return true;
    }
    return true;
  }

  [[nodiscard]] std::string name() const override { return quotedPath(path_); }

 private:
  static constexpr int64_t kFirstBackoffMs = 100;
  static constexpr int64_t kLastBackoffMs = 2000;

  void tryOpen(int64_t nowMs, const OnEvent& onEvent) {
    std::string problem;
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      problem = std::strerror(errno);
    } else if (::isatty(fd) != 0) {
      problem = configure(fd);
    } else {
      struct stat info {};
      if (::fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
        problem = "not a serial device";
      }
    }
    if (!problem.empty()) {
      if (fd >= 0) {
        ::close(fd);
      }
      if (!everOpened_ && !waitingReported_) {
        onEvent({SourceEvent::Kind::Notice,
                 quotedPath(path_) + ": " + problem + "; waiting for the device"});
        waitingReported_ = true;
      }
      nextAttemptMs_ = nowMs + backoffMs_;
      backoffMs_ = std::min(backoffMs_ * 2, kLastBackoffMs);
      return;
    }
    fd_ = fd;
    backoffMs_ = kFirstBackoffMs;
    if (everOpened_) {
      onEvent({SourceEvent::Kind::Restart, ""});
      onEvent({SourceEvent::Kind::GapEnd, quotedPath(path_) + ": back after " +
                                              waitedText(nowMs - lostAtMs_) + "; reading again"});
    } else if (waitingReported_) {
      onEvent({SourceEvent::Kind::Notice, quotedPath(path_) + ": opened; reading"});
    }
    everOpened_ = true;
  }

  // Raw input: 8N1, receiver on, modem lines ignored, no flow control, no
  // echo, no line editing, no signals from the input, no CR/LF translation;
  // a read returns as soon as one byte is there.
  [[nodiscard]] std::string configure(int fd) const {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
      return std::string("cannot read the terminal settings: ") + std::strerror(errno);
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, static_cast<speed_t>(speed_)) != 0 ||
        ::cfsetospeed(&settings, static_cast<speed_t>(speed_)) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
      return std::string("cannot set the terminal raw at that speed: ") + std::strerror(errno);
    }
    return {};
  }

  void lose(int64_t nowMs, const std::string& why, const OnEvent& onEvent) {
    closeDevice();
    lostAtMs_ = nowMs;
    nextAttemptMs_ = nowMs + kFirstBackoffMs;
    backoffMs_ = kFirstBackoffMs * 2;
    onEvent({SourceEvent::Kind::GapStart,
             quotedPath(path_) + ": " + why + "; waiting for the device to come back"});
  }

  void closeDevice() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  std::string path_;
  unsigned speed_;
  int fd_ = -1;
  bool everOpened_ = false;
  bool waitingReported_ = false;
  int64_t nextAttemptMs_ = 0;
  int64_t backoffMs_ = kFirstBackoffMs;
  int64_t lostAtMs_ = 0;
};

}  // namespace

int64_t monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

std::unique_ptr<StreamSource> openStandardInput() {
  return std::make_unique<StandardInputSource>();
}

std::unique_ptr<StreamSource> followFile(const std::string& path) {
  return std::make_unique<FollowedFile>(path);
}

std::optional<unsigned> baudConstant(int64_t baud) {
  static constexpr std::array<std::pair<int64_t, unsigned>, 23> kRates = {{
      {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
      {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
      {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
      {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
      {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  }};
  for (const auto& [rate, constant] : kRates) {
    if (rate == baud) {
      return constant;
    }
  }
  return std::nullopt;
}

std::unique_ptr<StreamSource> openSerialDevice(const std::string& path, unsigned baudConstant) {
  return std::make_unique<SerialDevice>(path, baudConstant);
}

std::string serialPathProblem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return {};
  }
  if (S_ISDIR(info.st_mode)) {
    return quotedPath(path) + " is a folder, not a serial device";
  }
  if (S_ISREG(info.st_mode)) {
    return quotedPath(path) + " is a regular file, not a serial device (--follow reads a file)";
  }
  return {};
}
