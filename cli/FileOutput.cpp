#include "FileOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#include "StandardOutput.h"

namespace fs = std::filesystem;

namespace {

// ---- Temporary files the signal handler removes -------------------------
//
// The handler may run at any moment on any thread, so the registry is a
// fixed table of path buffers guarded by lock-free atomics: a slot is
// claimed (1), filled, then published (2); the handler reads only
// published slots and calls only unlink, signal and raise.

constexpr int kSlotCount = 64;
struct TemporarySlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 published
  char path[PATH_MAX]{};
};
TemporarySlot temporarySlots[kSlotCount];

// While files are being renamed into place a signal is held back, so that a
// set of files is committed whole; the last committer re-raises it.
std::atomic<int> committers{0};
std::atomic<int> pendingSignal{0};
mode_t creationMask = 022;

int registerTemporary(const std::string& path) {
  if (path.size() >= PATH_MAX) {
    return -1;
  }
  for (int slot = 0; slot < kSlotCount; ++slot) {
    int expected = 0;
    if (temporarySlots[slot].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(temporarySlots[slot].path, path.c_str(), path.size() + 1);
      temporarySlots[slot].state.store(2);
      return slot;
    }
  }
  return -1;  // table full: the file is still removed on ordinary failures
}

void unregisterTemporary(int slot) {
  if (slot >= 0) {
    temporarySlots[slot].state.store(0);
  }
}

void removeRegisteredTemporaries() {
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.state.load() == 2) {
      ::unlink(slot.path);
    }
  }
}

extern "C" void onTerminatingSignal(int signalNumber) {
  const int savedErrno = errno;
  if (committers.load() > 0) {
    pendingSignal.store(signalNumber);
    errno = savedErrno;
    return;
  }
  removeRegisteredTemporaries();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
  errno = savedErrno;
}

void beginCommit() { committers.fetch_add(1); }

void endCommit() {
  if (committers.fetch_sub(1) == 1) {
    if (const int signalNumber = pendingSignal.exchange(0); signalNumber != 0) {
      onTerminatingSignal(signalNumber);
    }
  }
}

std::string describeErrno(int error) { return std::strerror(error); }

// ---- Where a path leads ---------------------------------------------------

std::optional<int> descriptorPath(const std::string& path) {
  const std::string ownProc = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string& prefix :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"), ownProc}) {
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
      const std::string digits = path.substr(prefix.size());
      if (digits.size() <= 9 && digits.find_first_not_of("0123456789") == std::string::npos) {
        return std::stoi(digits);
      }
    }
  }
  return std::nullopt;
}

// ---- Writing ---------------------------------------------------------------

bool writeAll(int fd, std::string_view text, int& error) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string cannotWrite(const fs::path& path, const std::string& reason) {
  return "cannot write '" + path.string() + "': " + reason;
}

std::string writeToDescriptor(int fd, const fs::path& shownPath, std::string_view text) {
  if (fd == STDOUT_FILENO) {
    if (std::string error = writeStandardOutput(text); !error.empty()) {
      return cannotWrite(shownPath, error);
    }
    return {};
  }
  if (fd == STDERR_FILENO) {
    std::fflush(stderr);
  }
  int error = 0;
  if (!writeAll(fd, text, error)) {
    return cannotWrite(shownPath, describeErrno(error));
  }
  return {};
}

using TextSink = std::function<std::string(std::string_view)>;

// An item's text through `write`: held, or made piece by piece.
std::string writeItem(const OutputItem& item, const TextSink& write) {
  return item.produce ? item.produce(write) : write(item.text.value_or(std::string()));
}

// An item's text written to `fd`; false with `error` set on failure.
bool writeItemTo(int fd, const OutputItem& item, int& error) {
  bool written = true;
  (void)writeItem(item, [&](std::string_view text) {
    written = written && writeAll(fd, text, error);
    return written ? std::string() : std::string("cannot write");
  });
  return written;
}

std::string writeThrough(const fs::path& path, const OutputItem& item) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return cannotWrite(path, describeErrno(errno));
  }
  int error = 0;
  const bool written = writeItemTo(fd, item, error);
  if (::close(fd) != 0 && written) {
    error = errno;
    return cannotWrite(path, describeErrno(error));
  }
  return written ? std::string() : cannotWrite(path, describeErrno(error));
}

fs::path folderOf(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

std::string uniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  static std::mutex randomMutex;
  static std::mt19937_64 random{std::random_device{}()};
  unsigned long long noise = 0;
  {
    const std::lock_guard<std::mutex> lock(randomMutex);
    noise = random();
  }
  char text[64];
  std::snprintf(text, sizeof text, "%ld-%u-%012llx", static_cast<long>(::getpid()),
                counter.fetch_add(1), noise & 0xffffffffffffULL);
  return text;
}

// A name beside `target` for a temporary or backup file: hidden, and short
// enough for the file system whatever the target's name.
fs::path besideName(const fs::path& target, const char* kind) {
  std::string name = target.filename().string();
  if (name.size() > 150) {
    name.resize(150);
  }
  return folderOf(target) / ("." + name + "." + kind + "-" + uniqueSuffix());
}

// A file being written: created exclusively, removed unless committed.
struct PreparedFile {
  fs::path target;       // the file to replace (links already followed)
  fs::path temporary;    // empty for a removal
  int slot = -1;         // signal registry slot of `temporary`
  bool existed = false;  // a regular file was at `target`
  bool remove = false;   // the item asks for `target` to be removed
  fs::path backup;       // hard link to the old file while committing
  bool placed = false;   // renamed (or removed) during the commit
};

void discardTemporary(PreparedFile& file) {
  if (!file.temporary.empty()) {
    ::unlink(file.temporary.c_str());
    unregisterTemporary(file.slot);
    file.slot = -1;
    file.temporary.clear();
  }
}

// Creates the temporary file beside `file.target` with the permissions of
// the file it replaces (or of a new file); `fd` is then open for writing.
std::string openTemporary(PreparedFile& file, int& fd) {
  struct stat old {};
  file.existed = ::lstat(file.target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    file.temporary = besideName(file.target, "tmp");
    file.slot = registerTemporary(file.temporary.string());
    fd = ::open(file.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int error = errno;
      unregisterTemporary(file.slot);
      file.slot = -1;
      file.temporary.clear();
      if (error != EEXIST) {
        return cannotWrite(file.target, "cannot create a temporary file in '" +
                                            folderOf(file.target).string() +
                                            "': " + describeErrno(error));
      }
    }
  }
  if (fd < 0) {
    return cannotWrite(file.target, "cannot find a free temporary file name");
  }
  // The permissions of the file replaced (its owner too where allowed), or
  // those of any new file.
  if (file.existed) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only root may give a file away; the new file stays ours.
    }
  }
  const mode_t mode = file.existed ? (old.st_mode & 07777) : (0666 & ~creationMask);
  if (::fchmod(fd, mode) != 0) {
    const int error = errno;
    ::close(fd);
    fd = -1;
    discardTemporary(file);
    return cannotWrite(file.target, describeErrno(error));
  }
  return {};
}

// Syncs and closes the temporary file; on failure it is removed.
std::string closeTemporary(PreparedFile& file, int fd, bool ok, int error) {
  ok = ok && (::fsync(fd) == 0 || (error = errno, false));
  if (::close(fd) != 0 && ok) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    discardTemporary(file);
    return cannotWrite(file.target, describeErrno(error));
  }
  return {};
}

std::string createTemporary(PreparedFile& file, const OutputItem& item) {
  int fd = -1;
  if (std::string problem = openTemporary(file, fd); !problem.empty()) {
    return problem;
  }
  int error = 0;
  const bool ok = writeItemTo(fd, item, error);
  return closeTemporary(file, fd, ok, error);
}

void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Undoes a commit step: the old file back, or the new file gone.
void rollBack(PreparedFile& file) {
  if (!file.placed) {
    return;
  }
  if (!file.backup.empty()) {
    ::rename(file.backup.c_str(), file.target.c_str());
    file.backup.clear();
  } else if (!file.existed && !file.remove) {
    ::unlink(file.target.c_str());
  }
  file.placed = false;
}

std::string placeFile(PreparedFile& file) {
  if (file.existed) {
    // A second name for the old file, so that a later failure in the same
    // set can put it back. Without hard links the commit goes on unguarded.
    const fs::path backup = besideName(file.target, "old");
    if (::link(file.target.c_str(), backup.c_str()) == 0) {
      file.backup = backup;
    }
  }
  if (file.remove) {
    if (::unlink(file.target.c_str()) != 0 && errno != ENOENT) {
      const int error = errno;
      if (!file.backup.empty()) {
        ::unlink(file.backup.c_str());
        file.backup.clear();
      }
      return "cannot remove '" + file.target.string() + "': " + describeErrno(error);
    }
  } else if (::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
    const int error = errno;
    if (!file.backup.empty()) {
      ::unlink(file.backup.c_str());
      file.backup.clear();
    }
    return cannotWrite(file.target, describeErrno(error));
  } else {
    unregisterTemporary(file.slot);
    file.slot = -1;
    file.temporary.clear();
  }
  file.placed = true;
  return {};
}

// Identity of a file to replace, to find two items naming the same file.
std::string identityOf(const fs::path& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0) {
    return "inode:" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  }
  std::error_code error;
  const fs::path folder = fs::weakly_canonical(fs::absolute(folderOf(target), error), error);
  return "path:" + (folder / target.filename()).string();
}

// A file to remove is taken by its own name: a link goes, not the file it
// names. Anything but a file or a link is left alone.
OutputTarget removalTarget(const fs::path& path) {
  OutputTarget target;
  struct stat status {};
  target.resolved = path;
  target.kind =
      ::lstat(path.c_str(), &status) == 0 && !(S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))
          ? OutputTarget::Kind::Through
          : OutputTarget::Kind::Replace;
  return target;
}

}  // namespace

void installOutputSafety() {
  static std::once_flag once;
  std::call_once(once, [] {
    creationMask = ::umask(0);
    ::umask(creationMask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
        continue;
      }
      struct sigaction action {};
      action.sa_handler = onTerminatingSignal;
      sigemptyset(&action.sa_mask);
      ::sigaction(signalNumber, &action, nullptr);
    }
    // A closed pipe and a file size limit (ulimit -f) become write errors
    // that the writer can clean up after, instead of killing the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
  });
}

OutputTarget resolveOutputTarget(const fs::path& path) {
  OutputTarget target;
  if (path.empty()) {
    target.problem = "an empty file name";
    return target;
  }
  if (path == "-") {
    target.kind = OutputTarget::Kind::StandardOutput;
    return target;
  }
  fs::path current = path;
  for (int hop = 0; hop < 40; ++hop) {
    if (const std::optional<int> fd = descriptorPath(current.string())) {
      target.kind = OutputTarget::Kind::Descriptor;
      target.descriptor = *fd;
      target.resolved = current;
      return target;
    }
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0) {
      const int error = errno;
      if (error == ENOENT && !current.filename().empty()) {
        target.kind = OutputTarget::Kind::Replace;
        target.resolved = current;
      } else {
        target.problem = "'" + path.string() + "': " +
                         (error == ENOENT ? std::string("names a folder") : describeErrno(error));
      }
      return target;
    }
    if (S_ISLNK(status.st_mode)) {
      std::string link(PATH_MAX, '\0');
      const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
      if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
        target.problem = "'" + path.string() + "': cannot read the link";
        return target;
      }
      link.resize(static_cast<std::size_t>(length));
      const fs::path linked = link;
      current = linked.is_absolute() ? linked : current.parent_path() / linked;
      continue;
    }
    target.resolved = current;
    if (S_ISREG(status.st_mode)) {
      target.kind = OutputTarget::Kind::Replace;
    } else if (S_ISDIR(status.st_mode)) {
      target.problem = "'" + path.string() + "' is a folder";
    } else {
      target.kind = OutputTarget::Kind::Through;
    }
    return target;
  }
  target.problem = "'" + path.string() + "': " + describeErrno(ELOOP);
  return target;
}

std::string writeOutputs(const std::vector<OutputItem>& items) {
  installOutputSafety();
  std::vector<OutputTarget> targets;
  std::set<std::string> seen;
  for (const OutputItem& item : items) {
    const bool writes = item.text || item.produce;
    OutputTarget target = writes ? resolveOutputTarget(item.path) : removalTarget(item.path);
    if (target.kind == OutputTarget::Kind::Invalid) {
      return "cannot write " + target.problem;
    }
    if (target.kind == OutputTarget::Kind::Replace && writes &&
        !seen.insert(identityOf(target.resolved)).second) {
      return "cannot write '" + item.path.string() + "': named twice among the outputs";
    }
    targets.push_back(std::move(target));
  }

  // Everything written in full beside its target first; special files and
  // descriptors have no old content to keep and are written now.
  std::vector<PreparedFile> prepared;
  const auto discardAll = [&prepared] {
    for (PreparedFile& file : prepared) {
      discardTemporary(file);
    }
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    const OutputItem& item = items[i];
    const OutputTarget& target = targets[i];
    const bool writes = item.text || item.produce;
    std::string error;
    switch (target.kind) {
      case OutputTarget::Kind::StandardOutput:
        if (writes) {
          error = writeItem(item, [](std::string_view text) {
            std::string problem = writeStandardOutput(text);
            return problem.empty() ? problem : "error writing standard output: " + problem;
          });
        }
        break;
      case OutputTarget::Kind::Descriptor:
        if (writes) {
          error = writeItem(item, [&](std::string_view text) {
            return writeToDescriptor(target.descriptor, item.path, text);
          });
        }
        break;
      case OutputTarget::Kind::Through:
        if (writes) {
          error = writeThrough(target.resolved, item);
        }
        break;
      case OutputTarget::Kind::Replace: {
        PreparedFile file;
        file.target = target.resolved;
        if (writes) {
          error = createTemporary(file, item);
        } else {
          struct stat old {};
          file.remove = true;
          file.existed = ::lstat(file.target.c_str(), &old) == 0;
        }
        if (error.empty()) {
          prepared.push_back(std::move(file));
        }
        break;
      }
      case OutputTarget::Kind::Invalid:
        break;
    }
    if (!error.empty()) {
      discardAll();
      return error;
    }
  }

  // Then put in place in order, holding back termination signals.
  beginCommit();
  std::string error;
  for (PreparedFile& file : prepared) {
    if (file.remove && !file.existed) {
      continue;
    }
    error = placeFile(file);
    if (!error.empty()) {
      for (auto it = prepared.rbegin(); it != prepared.rend(); ++it) {
        rollBack(*it);
      }
      break;
    }
  }
  std::set<fs::path> folders;
  for (PreparedFile& file : prepared) {
    if (!file.backup.empty()) {
      ::unlink(file.backup.c_str());
    }
    discardTemporary(file);
    folders.insert(folderOf(file.target));
  }
  endCommit();
  if (error.empty()) {
    for (const fs::path& folder : folders) {
      syncFolder(folder);
    }
  }
  return error;
}

std::string writeOutput(const fs::path& path, std::string_view text) {
  return writeOutputs({OutputItem{path, std::string(text)}});
}

struct StreamedOutput::State {
  fs::path shownPath;
  OutputTarget target;
  PreparedFile file;  // for a file replaced
  int fd = -1;        // the temporary file, or a special file written through
  int error = 0;      // the first write error
  bool committed = false;
};

StreamedOutput::StreamedOutput() = default;
StreamedOutput::StreamedOutput(StreamedOutput&&) noexcept = default;
StreamedOutput& StreamedOutput::operator=(StreamedOutput&&) noexcept = default;

StreamedOutput::~StreamedOutput() {
  if (state_ && state_->fd >= 0) {
    ::close(state_->fd);
  }
  if (state_) {
    discardTemporary(state_->file);
  }
}

std::string StreamedOutput::open(const fs::path& path) {
  installOutputSafety();
  state_ = std::make_unique<State>();
  state_->shownPath = path;
  state_->target = resolveOutputTarget(path);
  switch (state_->target.kind) {
    case OutputTarget::Kind::Invalid:
      return "cannot write " + state_->target.problem;
    case OutputTarget::Kind::Through:
      state_->fd = ::open(state_->target.resolved.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      return state_->fd < 0 ? cannotWrite(path, describeErrno(errno)) : std::string();
    case OutputTarget::Kind::Replace:
      state_->file.target = state_->target.resolved;
      return openTemporary(state_->file, state_->fd);
    case OutputTarget::Kind::StandardOutput:
    case OutputTarget::Kind::Descriptor:
      return {};
  }
  return {};
}

std::string StreamedOutput::write(std::string_view text) {
  if (!state_ || state_->committed) {
    return "cannot write: the output is not open";
  }
  switch (state_->target.kind) {
    case OutputTarget::Kind::StandardOutput:
      if (std::string error = writeStandardOutput(text); !error.empty()) {
        return "error writing standard output: " + error;
      }
      return {};
    case OutputTarget::Kind::Descriptor:
      return writeToDescriptor(state_->target.descriptor, state_->shownPath, text);
    case OutputTarget::Kind::Through:
    case OutputTarget::Kind::Replace:
      if (!writeAll(state_->fd, text, state_->error)) {
        return cannotWrite(state_->shownPath, describeErrno(state_->error));
      }
      return {};
    case OutputTarget::Kind::Invalid:
      break;
  }
  return "cannot write " + state_->target.problem;
}

bool StreamedOutput::readerGone() const {
  return state_ && state_->target.kind == OutputTarget::Kind::StandardOutput &&
         standardOutputBroken();
}

std::string StreamedOutput::commit() {
  if (!state_ || state_->committed) {
    return "cannot write: the output is not open";
  }
  State& state = *state_;
  state.committed = true;
  if (state.target.kind == OutputTarget::Kind::Through) {
    const bool closed = ::close(state.fd) == 0;
    const int error = errno;
    state.fd = -1;
    return closed ? std::string() : cannotWrite(state.shownPath, describeErrno(error));
  }
  if (state.target.kind != OutputTarget::Kind::Replace) {
    return {};
  }
  const int fd = state.fd;
  state.fd = -1;
  if (std::string error = closeTemporary(state.file, fd, true, 0); !error.empty()) {
    return error;
  }
  beginCommit();
  std::string error = placeFile(state.file);
  if (!state.file.backup.empty()) {
    ::unlink(state.file.backup.c_str());
  }
  discardTemporary(state.file);
  endCommit();
  if (error.empty()) {
    syncFolder(folderOf(state.file.target));
  }
  return error;
}
