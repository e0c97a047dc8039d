#include "HookRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string_view>
#include <thread>

extern char** environ;

namespace {

std::string statusText(int status) {
  if (WIFEXITED(status)) {
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    const char* name = ::strsignal(WTERMSIG(status));
    return "was killed by signal " + std::to_string(WTERMSIG(status)) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
  }
  return "ended abnormally";
}

}  // namespace

bool HookRunner::start(const std::vector<std::pair<std::string, std::string>>& environment,
                       const std::string& label, int64_t nowMs, const Report& report) {
  const auto free =
      std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.pid == 0; });
  if (free == slots_.end()) {
    ++dropped_;
    report("--exec: " + std::to_string(kSlots) + " commands still running; not run for " + label);
    return false;
  }
  // The program's environment without the variables set here, then those.
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const bool replaced =
        std::any_of(environment.begin(), environment.end(), [&](const auto& pair) {
          return text.size() > pair.first.size() && text.starts_with(pair.first) &&
                 text[pair.first.size()] == '=';
        });
    if (!replaced) {
      entries.emplace_back(text);
    }
  }
  for (const auto& [name, value] : environment) {
    entries.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  envp.reserve(entries.size() + 1);
  for (std::string& entry : entries) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);
  std::string shell = "sh";
  std::string flag = "-c";
  std::array<char*, 4> argv = {shell.data(), flag.data(), command_.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  // The hook starts with default signal handling, whatever the run ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGCHLD}) {
    sigaddset(&defaults, signalNumber);
  }
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    ++failed_;
    report("--exec: cannot start /bin/sh for " + label + ": " + std::strerror(error));
    return false;
  }
  *free = Slot{pid, nowMs, false, label};
  ++started_;
  return true;
}

void HookRunner::reap(int64_t nowMs, const Report& report) {
  for (Slot& slot : slots_) {
    if (slot.pid == 0) {
      continue;
    }
    int status = 0;
    const pid_t done = ::waitpid(slot.pid, &status, WNOHANG);
    if (done == slot.pid || (done < 0 && errno == ECHILD)) {
      if (done == slot.pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        ++failed_;
        report("--exec: the command for " + slot.label + " " + statusText(status));
      }
      slot = Slot{};
      continue;
    }
    if (!slot.slowReported && nowMs - slot.startedMs >= kSlowMs) {
      slot.slowReported = true;
      report("--exec: the command for " + slot.label + " is still running after " +
             std::to_string(kSlowMs / 1000) + " s");
    }
  }
}

std::size_t HookRunner::drain(int64_t limitMs, const Report& report) {
  int64_t waited = 0;
  constexpr int64_t kStepMs = 10;
  while (running() > 0 && waited < limitMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    waited += kStepMs;
    // Slow commands were reported during the run; only failures now.
    for (Slot& slot : slots_) {
      slot.slowReported = true;
    }
    reap(0, report);
  }
  return running();
}

std::size_t HookRunner::running() const {
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.pid != 0; }));
}

int HookRunner::nextCheckMs(int64_t nowMs) const {
  int64_t next = -1;
  for (const Slot& slot : slots_) {
    if (slot.pid != 0 && !slot.slowReported) {
      const int64_t in = std::max<int64_t>(0, slot.startedMs + kSlowMs - nowMs);
      next = next < 0 ? in : std::min(next, in);
    }
  }
  return static_cast<int>(next);
}
