#include "LiveRun.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "EvalRender.h"
#include "HookRunner.h"
#include "LineSplitter.h"
#include "LiveSession.h"
#include "RecordJournal.h"
#include "VelmoraCodes.h"

namespace {

// ---- signals -------------------------------------------------------------------

// The handler writes the signal's number here; the loop polls the other end.
int signalPipe[2] = {-1, -1};

extern "C" void onStopOrChildSignal(int signalNumber) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// The signal to stop on (0: only children ended).
int takeSignals() {
  unsigned char bytes[64];
  int stopSignal = 0;
  ssize_t got = 0;
  while ((got = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < got; ++i) {
      if (bytes[i] != SIGCHLD && stopSignal == 0) {
        stopSignal = bytes[i];
      }
    }
  }
  return stopSignal;
}

// ---- text ------------------------------------------------------------------------

// Now in UTC, to the millisecond: "2026-12-08T14:21:20.670Z".
std::string wallClockText() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  ::gmtime_r(&now.tv_sec, &parts);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03ldZ", now.tv_nsec / 1'000'000);
  return text;
}

// Stream time of a position: position / 50 s, exact in two decimals.
std::string streamSecondsText(int64_t position) {
  char text[32];
  std::snprintf(
      text, sizeof text, "%lld.%02lld", static_cast<long long>(position / kVelmoraSamplesPerSecond),
      static_cast<long long>(position % kVelmoraSamplesPerSecond * 100 / kVelmoraSamplesPerSecond));
  return text;
}

std::string codeMeaning(int32_t code) {
  const VelmoraCodeInfo* info = VelmoraDescribeCode(code);
  return info != nullptr ? info->meaning : "result code " + std::to_string(code);
}

// One warning a second at most; the next one says how many were held back.
class RateLimitedWarnings {
 public:
  void warn(const LiveRunOutput& output, int64_t nowMs, const std::string& text) {
    if (lastMs_ >= 0 && nowMs - lastMs_ < 1000) {
      ++held_;
      return;
    }
    std::string message = "warning: " + text;
    if (held_ > 0) {
      message += " (" + std::to_string(held_) + " more since the last warning)";
    }
    output.report(message);
    lastMs_ = nowMs;
    held_ = 0;
  }

 private:
  int64_t lastMs_ = -1;
  int64_t held_ = 0;
};

}  // namespace

// ---- the run ---------------------------------------------------------------------

class LiveRun::Loop {
 public:
  Loop(LiveRunOptions options, LiveRunOutput output)
      : options_(std::move(options)), output_(std::move(output)) {
    if (!options_.exec.empty()) {
      hooks_ = std::make_unique<HookRunner>(options_.exec);
    }
  }

  int run(std::unique_ptr<StreamSource> source, std::unique_ptr<SampleDecoder> decoder) {
    source_ = std::move(source);
    session_ = std::make_unique<LiveSession>(
        options_.settings, std::move(decoder), [this](const LiveAlarm& alarm) { onAlarm(alarm); },
        [this](int64_t line, const std::string& problem) {
          warnings_.warn(output_, monotonicMs(),
                         "line " + std::to_string(line) + ": " + problem + "; skipped");
        },
        [this](const std::string& text) { gapWarnings_.warn(output_, monotonicMs(), text); },
        [this](const std::string& text) { output_.report(text); },
        journal_.isOpen() ? &journal_ : nullptr);
    const int64_t startMs = monotonicMs();
    nextStatusMs_ = startMs + statusPeriodMs();
    statusFromMs_ = startMs;
    std::string ending = "end of input";
    bool ended = false;
    while (!ended) {
      const int64_t nowMs = monotonicMs();
      flushJournal();
      std::array<pollfd, 2> fds{};
      fds[0] = {signalPipe[0], POLLIN, 0};
      fds[1] = {source_->descriptor(), POLLIN, 0};
      const int waitMs = waitTime(nowMs);
      const int ready = ::poll(fds.data(), fds[1].fd >= 0 ? 2 : 1, waitMs);
      if (ready < 0 && errno != EINTR) {
        output_.report(std::string("poll: ") + std::strerror(errno));
        return 1;
      }
      if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        if (const int signalNumber = takeSignals(); signalNumber != 0) {
          ending = std::string("stopped by ") + (signalNumber == SIGINT    ? "SIGINT"
                                                 : signalNumber == SIGTERM ? "SIGTERM"
                                                                           : "SIGHUP");
          break;
        }
      }
      const int64_t afterMs = monotonicMs();
      const bool readable = fds[1].fd >= 0 && fds[1].revents != 0;
      const int service = source_->serviceInMs(afterMs);
      if (readable || service == 0) {
        if (!source_->pump(
                afterMs, [this](std::string_view bytes) { onBytes(bytes); },
                [this](const SourceEvent& event) { onSourceEvent(event); })) {
          ended = true;
          splitter_.finish(
              [this](std::string_view line, bool overlong) { session_->addLine(line, overlong); });
          session_->finish();
        }
      }
      if (hooks_) {
        hooks_->reap(afterMs, report());
      }
      if (options_.statusSeconds > 0 && afterMs >= nextStatusMs_) {
        printStatus(afterMs);
      }
      if (stopForOutput_) {
        ending = "stopped: standard output was closed";
        break;
      }
    }
    flushJournal();
    const LiveCounts counts = session_->counts();
    std::string summary =
        ending + " (" + source_->name() + "): " + std::to_string(counts.lines) + " lines, " +
        std::to_string(counts.samples) + " samples (" + streamSecondsText(counts.samples) +
        " s of stream), " + std::to_string(counts.alarms) +
        (counts.alarms == 1 ? " alarm, " : " alarms, ") + std::to_string(counts.malformed) +
        " malformed lines, " + std::to_string(counts.headerLines) + " header lines, " +
        std::to_string(counts.gaps) + (counts.gaps == 1 ? " gap" : " gaps");
    if (hooks_) {
      const std::size_t left = hooks_->drain(kHookDrainMs, report());
      summary += "; --exec: " + std::to_string(hooks_->started()) + " run, " +
                 std::to_string(hooks_->failed()) + " failed, " +
                 std::to_string(hooks_->dropped()) + " dropped";
      if (left > 0) {
        summary += ", " + std::to_string(left) + " still running";
      }
    }
    output_.report(summary);
    if (!outputError_.empty() || journal_.hasFailed()) {
      return 1;
    }
    return 0;
  }

  std::string openJournal(const std::string& sourceName) {
    if (options_.recordPath.empty()) {
      return {};
    }
    const std::string started = wallClockText();
    std::vector<std::string> header = {
        headerText("Recording written by velmora-live | source: " + sourceName),
        "started: " + started,
        "format: 50 samples/s; acc 8192 counts/g, gyro 65.536 counts per deg/s",
        "samples: the lines the live run accepted, in order (malformed lines left out)",
        "positions: data line N is the run's position N",
        "written as a journal while the run went on",
        "index,ax,ay,az,gx,gy,gz"};
    return journal_.open(options_.recordPath, header);
  }

 private:
  static constexpr int64_t kHookDrainMs = 5000;

  // A header line kept within the journal's line length.
  static std::string headerText(std::string line) {
    if (line.size() > 900) {
      line.resize(900);
    }
    return line;
  }

  HookRunner::Report report() {
    return [this](const std::string& text) { output_.report(text); };
  }

  [[nodiscard]] int64_t statusPeriodMs() const {
    return static_cast<int64_t>(options_.statusSeconds * 1000.0);
  }

  int waitTime(int64_t nowMs) const {
    int wait = source_->serviceInMs(nowMs);
    const auto tighten = [&wait](int64_t ms) {
      const int clipped = static_cast<int>(std::clamp<int64_t>(ms, 0, 3'600'000));
      wait = wait < 0 ? clipped : std::min(wait, clipped);
    };
    if (options_.statusSeconds > 0) {
      tighten(nextStatusMs_ - nowMs);
    }
    if (hooks_ && hooks_->running() > 0) {
      const int next = hooks_->nextCheckMs(nowMs);
      if (next >= 0) {
        tighten(next);
      }
    }
    return wait;
  }

  void onBytes(std::string_view bytes) {
    splitter_.feed(
        bytes, [this](std::string_view line, bool overlong) { session_->addLine(line, overlong); });
  }

  void onSourceEvent(const SourceEvent& event) {
    switch (event.kind) {
      case SourceEvent::Kind::GapStart:
        session_->gap();
        break;
      case SourceEvent::Kind::Restart:
        splitter_.reset();
        session_->restart();
        break;
      case SourceEvent::Kind::Notice:
      case SourceEvent::Kind::GapEnd:
        break;
    }
    if (!event.text.empty()) {
      output_.report(event.text);
    }
  }

  void onAlarm(const LiveAlarm& alarm) {
    const std::string time = wallClockText();
    const std::string seconds = streamSecondsText(alarm.position);
    const std::string meaning = codeMeaning(alarm.code);
    std::string line;
    if (options_.json) {
      using velmora::evaluation::JsonValue;
      line = velmora::evaluation::formatJsonValue(
          JsonValue::object()
              .add("time", JsonValue::fromString(time))
              .add("position", JsonValue::fromInteger(alarm.position))
              .add("seconds", JsonValue::fromNumber(static_cast<double>(alarm.position) /
                                                    kVelmoraSamplesPerSecond))
              .add("code", JsonValue::fromInteger(alarm.code))
              .add("meaning", JsonValue::fromString(meaning)));
    } else {
      line = time + "  alarm at position " + std::to_string(alarm.position) + " (" + seconds +
             " s): code " + std::to_string(alarm.code) + ", " + meaning;
    }
    line += '\n';
    if (outputError_.empty() && !output_.broken()) {
      outputError_ = output_.write(line);
      if (!outputError_.empty()) {
        output_.report("error writing standard output: " + outputError_);
      }
    }
    if ((output_.broken() || !outputError_.empty()) && !hooks_ && !journal_.isOpen()) {
      stopForOutput_ = true;
    }
    if (hooks_) {
      const int64_t nowMs = monotonicMs();
      hooks_->reap(nowMs, report());
      hooks_->start({{"VELMORA_TIME", time},
                     {"VELMORA_POSITION", std::to_string(alarm.position)},
                     {"VELMORA_SECONDS", seconds},
                     {"VELMORA_CODE", std::to_string(alarm.code)},
                     {"VELMORA_MEANING", meaning}},
                    "the alarm at position " + std::to_string(alarm.position), nowMs, report());
    }
  }

  void printStatus(int64_t nowMs) {
    const LiveCounts counts = session_->counts();
    const double elapsed = static_cast<double>(nowMs - statusFromMs_) / 1000.0;
    const double rate =
        elapsed > 0.0 ? static_cast<double>(counts.samples - statusSamples_) / elapsed : 0.0;
    char text[256];
    std::snprintf(text, sizeof text,
                  "status: %lld samples, %.1f samples/s, %lld alarms, %lld malformed lines, %lld "
                  "gaps",
                  static_cast<long long>(counts.samples), rate,
                  static_cast<long long>(counts.alarms), static_cast<long long>(counts.malformed),
                  static_cast<long long>(counts.gaps));
    std::string line = text;
    if (hooks_) {
      line += "; --exec: " + std::to_string(hooks_->running()) + " running, " +
              std::to_string(hooks_->failed()) + " failed, " + std::to_string(hooks_->dropped()) +
              " dropped";
    }
    output_.report(line);
    statusSamples_ = counts.samples;
    statusFromMs_ = nowMs;
    nextStatusMs_ = nowMs + statusPeriodMs();
  }

  void flushJournal() {
    if (journal_.isOpen() && !journal_.hasFailed()) {
      if (std::string error = journal_.flush(); !error.empty()) {
        output_.report(error);
      }
    }
  }

  const LiveRunOptions options_;
  const LiveRunOutput output_;
  std::unique_ptr<StreamSource> source_;
  std::unique_ptr<LiveSession> session_;
  std::unique_ptr<HookRunner> hooks_;
  RecordJournal journal_;
  LineSplitter splitter_;
  RateLimitedWarnings warnings_;
  RateLimitedWarnings gapWarnings_;
  std::string outputError_;
  bool stopForOutput_ = false;
  int64_t nextStatusMs_ = 0;
  int64_t statusFromMs_ = 0;
  int64_t statusSamples_ = 0;
};

LiveRun::LiveRun(LiveRunOptions options, LiveRunOutput output)
    : loop_(std::make_unique<Loop>(std::move(options), std::move(output))) {}

LiveRun::~LiveRun() = default;

bool LiveRun::catchSignals() {
  if (signalPipe[0] >= 0) {
    return true;
  }
  if (::pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = onStopOrChildSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
    ::sigaction(signalNumber, &action, nullptr);
  }
  return true;
}

std::string LiveRun::openJournal(const std::string& sourceName) {
  return loop_->openJournal(sourceName);
}

int LiveRun::run(std::unique_ptr<StreamSource> source, std::unique_ptr<SampleDecoder> decoder) {
  return loop_->run(std::move(source), std::move(decoder));
}
