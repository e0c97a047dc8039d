#include "StandardOutput.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> readerGone{false};
// A failure already handed to a caller, who reports it: not reported twice.
std::atomic<bool> failureReturned{false};

// A pipe or socket whose reading end is closed reports POLLERR; `errno`
// alone is unreliable here because stdio may have failed on an earlier,
// implicit flush.
bool readerHasGone(int error) {
  if (error == EPIPE) {
    return true;
  }
  struct stat status {};
  if (::fstat(STDOUT_FILENO, &status) != 0 ||
      !(S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) {
    return false;
  }
  pollfd query{STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&query, 1, 0) == 1 && (query.revents & POLLERR) != 0;
}

}  // namespace

std::string writeStandardOutput(std::string_view text) {
  if (readerGone.load()) {
    return {};
  }
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (std::fflush(stdout) == 0 && written && std::ferror(stdout) == 0) {
    return {};
  }
  const int error = errno;
  if (readerHasGone(error)) {
    readerGone.store(true);
    return {};
  }
  failureReturned.store(true);
  return error != 0 ? std::strerror(error) : "write error";
}

bool standardOutputBroken() {
  if (!readerGone.load() && std::ferror(stdout) != 0 && readerHasGone(0)) {
    readerGone.store(true);
  }
  return readerGone.load();
}

std::string finishStandardOutput(int& status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return {};
  }
  const int error = errno;
  if (readerGone.load() || readerHasGone(error)) {
    readerGone.store(true);
    return {};
  }
  if (failureReturned.load()) {
    status = status == 0 ? 1 : status;
    return {};
  }
  status = 1;
  return error != 0 ? std::strerror(error) : "write error";
}
