// Running a command on every alarm without ever waiting for it: at most a
// few run at once (an alarm that finds every slot busy has its command
// dropped, so nothing queues up), finished ones are reaped, and a command
// that fails or runs long is reported.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class HookRunner {
 public:
  static constexpr std::size_t kSlots = 4;
  static constexpr int64_t kSlowMs = 10'000;

  using Report = std::function<void(const std::string&)>;

  // `command` runs as /bin/sh -c COMMAND, standard input from /dev/null and
  // standard output to standard error (so a hook never takes the input of
  // the run or mixes into its alarm lines).
  explicit HookRunner(std::string command) : command_(std::move(command)) {}
  HookRunner(const HookRunner&) = delete;
  HookRunner& operator=(const HookRunner&) = delete;
  ~HookRunner() = default;

  // Starts the command with `environment` added to the program's own
  // (replacing variables of the same names); `label` names it in reports.
  // Returns false, starting nothing, when every slot is busy or the start
  // failed (reported).
  bool start(const std::vector<std::pair<std::string, std::string>>& environment,
             const std::string& label, int64_t nowMs, const Report& report);

  // Reaps finished commands (reporting a failure: an exit status other
  // than 0, or a signal) and reports once each one running longer than
  // kSlowMs.
  void reap(int64_t nowMs, const Report& report);

  // Waits up to `limitMs` for the running commands to finish, reaping them.
  // Returns how many were still running then (left to run on).
  std::size_t drain(int64_t limitMs, const Report& report);

  [[nodiscard]] std::size_t running() const;
  // Milliseconds until reap() has something to report for a slow command
  // (-1 when none runs).
  [[nodiscard]] int nextCheckMs(int64_t nowMs) const;

  [[nodiscard]] int64_t started() const { return started_; }
  [[nodiscard]] int64_t failed() const { return failed_; }
  [[nodiscard]] int64_t dropped() const { return dropped_; }

 private:
  struct Slot {
    pid_t pid = 0;  // 0: free
    int64_t startedMs = 0;
    bool slowReported = false;
    std::string label;
  };

  std::string command_;
  std::array<Slot, kSlots> slots_{};
  int64_t started_ = 0;
  int64_t failed_ = 0;
  int64_t dropped_ = 0;
};
