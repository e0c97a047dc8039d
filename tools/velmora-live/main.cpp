// velmora-live: runs the fall detector on samples as they arrive (standard
// input, a followed file or a serial device) and reports every alarm the
// moment its first sample has been processed.
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
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "CsvImport.h"
#include "CsvOption.h"
#include "CsvStream.h"
#include "EvalRender.h"
#include "HookRunner.h"
#include "ImportText.h"
#include "LineSplitter.h"
#include "LiveDecoder.h"
#include "LiveSession.h"
#include "OptionParser.h"
#include "RecordJournal.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "StandardOutput.h"
#include "StreamSource.h"
#include "TextUtils.h"
#include "Velmora.h"
#include "VelmoraCodes.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-live [options] [SOURCE]\n"
    "       velmora-live [options] --follow FILE\n"
    "       velmora-live [options] --serial DEVICE [--baud N]\n"
    "\n"
    "Runs the fall detector over samples as they arrive and writes one line per\n"
    "alarm (a run of consecutive positive results, reported at its first sample)\n"
    "the moment that sample has been processed. SOURCE '-' or none: standard input.\n"
    "\n"
    "Sources:\n"
    "  --follow FILE      a file another program appends to, followed like tail -F\n"
    "                     from its start (waited for when absent; a truncated file\n"
    "                     is read again from its start, a replaced one is followed)\n"
    "  --serial DEVICE    a serial device, set raw (8N1, no echo, no line editing);\n"
    "                     waited for when absent, reopened when it comes back\n"
    "  --baud N           its speed (default 115200)\n"
    "Formats:\n"
    "  --format recording lines as a recording holds them (default):\n"
    "                     INDEX,AX,AY,AZ,GX,GY,GZ in signed 16-bit counts; lines\n"
    "                     before the first data line are a header and skipped\n"
    "  --format csv       any sensor's delimited text, converted as velmora-import\n"
    "                     csv converts it, with its options:\n"
    "    --acc AX,AY,AZ --gyro GX,GY,GZ   columns by name (required)\n"
    "    --acc-unit g|mps2|counts:PER_G --gyro-unit dps|rads|counts:PER_DPS (required)\n"
    "    --rate HZ        samples per second, or\n"
    "    --time COLUMN    a time column (--time-unit s, ms or us; default s); a\n"
    "                     stamp going back or jumping over 1 s is a gap\n"
    "    --axes MAP, --gyro-axes MAP   output axes from source axes (x=+y,y=-x,z=+z)\n"
    "    --resample mean|linear   default: mean for a --rate that is a whole\n"
    "                     multiple of 50, linear otherwise and with --time\n"
    "    --delimiter C    default: detected from the header row (',' with --columns)\n"
    "    --columns NAMES  the column names when the stream has no header row\n"
    "Output:\n"
    "  --json             one JSON object per alarm: time, position, seconds, code,\n"
    "                     meaning\n"
    "  --exec CMD         run CMD with /bin/sh -c on every alarm (VELMORA_TIME,\n"
    "                     VELMORA_POSITION, VELMORA_SECONDS, VELMORA_CODE and\n"
    "                     VELMORA_MEANING set), at most 4 at once, never waited for\n"
    "  --status SECONDS   a status line on standard error at that interval\n"
    "  --record FILE      also write the accepted samples as a recording (a new\n"
    "                     file, written as it goes: a journal, not replaced atomically)\n"
    "Detector:\n"
    "  --set NAME=VALUE   override one detector setting (repeatable); names as\n"
    "                     printed by velmora-eval --print-settings\n"
    "  --settings FILE    settings file, one NAME=VALUE a line ('#' comments)\n"
    "  --profile NAME     a shipped settings profile: fa0.25, fa0.5, fa1 or fa2\n"
    "                     (--set, --settings and --profile apply in the order given)\n"
    "Other:\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "  --                 end of options\n"
    "\n"
    "Positions count the samples accepted so far, from 0; a malformed, overlong\n"
    "(over 1024 bytes) or non-UTF-8 line is skipped, counted and warned about (one\n"
    "warning a second at most). The run ends at the end of standard input, or on\n"
    "SIGINT, SIGTERM or SIGHUP, with a summary on standard error and status 0.\n"
    "\n"
    "Example:\n"
    "  velmora-live --serial /dev/ttyACM0 --baud 115200 --status 60 \\\n"
    "      --exec 'notify-send \"Fall detected\" \"$VELMORA_MEANING\"'\n";

enum class SourceKind { StandardInput, Follow, Serial };

struct Options {
  DetectorSettings settings{};
  SourceKind source = SourceKind::StandardInput;
  std::string path;
  bool haveSourceArgument = false;
  int64_t baud = 115200;
  bool json = false;
  std::string exec;
  bool haveExec = false;
  double statusSeconds = 0.0;
  std::string recordPath;
  bool csv = false;
  CsvOptions csvOptions;
  std::string columns;
  StreamResampling resampling;
};

// ---- signals -------------------------------------------------------------------

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signalNumber) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

bool installSignals() {
  if (::pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
    ::sigaction(signalNumber, &action, nullptr);
  }
  return true;
}

// ---- text ------------------------------------------------------------------------

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
std::string secondsText(int64_t position) {
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
  void warn(int64_t nowMs, const std::string& text) {
    if (lastMs_ >= 0 && nowMs - lastMs_ < 1000) {
      ++held_;
      return;
    }
    std::string message = "warning: " + text;
    if (held_ > 0) {
      message += " (" + std::to_string(held_) + " more since the last warning)";
    }
    reportError(message);
    lastMs_ = nowMs;
    held_ = 0;
  }

 private:
  int64_t lastMs_ = -1;
  int64_t held_ = 0;
};

// ---- options ---------------------------------------------------------------------

// --follow FILE or --serial DEVICE into `path`. '-' is standard input,
// which is read when neither is given, so it names nothing here.
OptionSpec sourceOption(const std::string& name, const std::string& noun, std::string& path,
                        bool& given) {
  const std::string missing = name + " needs a " + noun;
  return {{name},
          true,
          [name, noun, missing, &path, &given](const std::string&, const std::string& value) {
            if (value.empty()) {
              return missing;
            }
            if (value == "-") {
              return missing + ": '-' (standard input) is read without " + name +
                     "; write ./- for a " + noun + " named '-'";
            }
            path = value;
            given = true;
            return std::string();
          },
          false,
          missing};
}

// Parses the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
  VelmoraDefaultSettings(&options.settings);
  bool haveFollow = false;
  bool haveSerial = false;
  bool haveBaud = false;
  std::string format = "recording";
  // A journal is always a new file, so no settings file can be overwritten
  // by it: the names are not needed further.
  std::vector<std::string> settingsFiles;
  OptionTable table = settingsOptions(options.settings, settingsFiles);
  table.push_back(sourceOption("--follow", "file", options.path, haveFollow));
  table.push_back(sourceOption("--serial", "device", options.path, haveSerial));
  table.push_back(
      {{"--baud"}, true, [&options, &haveBaud](const std::string&, const std::string& value) {
         const auto baud = parseInt32(value);
         if (!baud || !baudConstant(*baud)) {
           return "--baud takes a standard rate (9600, 19200, 38400, 57600, 115200, "
                  "230400, 460800, 921600, ...), not '" +
                  value + "'";
         }
         options.baud = *baud;
         haveBaud = true;
         return std::string();
       }});
  table.push_back({{"--format"}, true, [&format](const std::string&, const std::string& value) {
                     if (value != "recording" && value != "csv") {
                       return "--format takes recording or csv, not '" + value + "'";
                     }
                     format = value;
                     return std::string();
                   }});
  // The options of velmora-import csv that a stream takes, and the column
  // names of a stream without a header row; any of them asks for csv.
  OptionTable csvRows = csvConversionOptions(options.csvOptions, CsvConversion::Stream);
  csvRows.push_back({{"--columns"}, true, [&options](const std::string&, const std::string& value) {
                       if (value.empty()) {
                         return std::string("--columns needs the column names");
                       }
                       options.columns = value;
                       return std::string();
                     }});
  for (OptionSpec& row : csvRows) {
    row.apply = [&options, apply = std::move(row.apply)](const std::string& spelled,
                                                         const std::string& value) {
      options.csv = true;
      return apply(spelled, value);
    };
    table.push_back(std::move(row));
  }
  table.push_back(flagOption({"--json"}, options.json));
  table.push_back({{"--exec"},
                   true,
                   [&options](const std::string&, const std::string& value) {
                     if (value.empty()) {
                       return std::string("--exec needs a command");
                     }
                     options.exec = value;
                     options.haveExec = true;
                     return std::string();
                   },
                   false,
                   "--exec needs a command"});
  table.push_back({{"--status"}, true, [&options](const std::string&, const std::string& value) {
                     const auto seconds = parseInt32(value);
                     if (!seconds || *seconds < 1) {
                       return "--status takes a whole number of seconds (1 or more), not '" +
                              value + "'";
                     }
                     options.statusSeconds = *seconds;
                     return std::string();
                   }});
  table.push_back({{"--record"},
                   true,
                   [&options](const std::string&, const std::string& value) {
                     if (value.empty()) {
                       return std::string("--record needs a file");
                     }
                     if (value == "-") {
                       return std::string("--record writes a file, not standard output");
                     }
                     options.recordPath = value;
                     return std::string();
                   },
                   false,
                   "--record needs a file"});

  ParsedCommandLine parsed;
  if (std::string error = parseCommandLine(argc, argv, 1, table, parsed); !error.empty()) {
    return usageError(error);
  }
  if (parsed.help || parsed.version) {
    std::fputs(parsed.help ? kUsage : versionText().c_str(), stdout);
    return 0;
  }
  if (!parsed.operands.empty()) {
    if (parsed.operands.front() != "-") {
      return usageError("'" + parsed.operands.front() +
                        "': a source other than '-' is given with --follow FILE or --serial "
                        "DEVICE");
    }
    if (parsed.operands.size() > 1) {
      return usageError("only one source may be given");
    }
    options.haveSourceArgument = true;
  }
  if (haveFollow + haveSerial + options.haveSourceArgument > 1) {
    return usageError("give one source: '-', --follow FILE or --serial DEVICE");
  }
  if (options.csv && format != "csv") {
    return usageError("the csv options go with --format csv");
  }
  if (format == "csv") {
    options.csv = true;
    const CsvOptions& csv = options.csvOptions;
    std::vector<std::string> missing;
    if (csv.accColumns[0].empty()) {
      missing.emplace_back("--acc");
    }
    if (csv.gyroColumns[0].empty()) {
      missing.emplace_back("--gyro");
    }
    if (csv.accUnitText.empty()) {
      missing.emplace_back("--acc-unit");
    }
    if (csv.gyroUnitText.empty()) {
      missing.emplace_back("--gyro-unit");
    }
    if (!missing.empty()) {
      return usageError(missingOptionsMessage(missing, " for --format csv"));
    }
    if (csv.rate.has_value() == !csv.timeColumn.empty()) {
      return usageError("--format csv needs either --rate HZ or --time COLUMN");
    }
    StreamResampling resampling;
    if (std::string error = chooseStreamResampling(csv, resampling); !error.empty()) {
      return usageError(error);
    }
    options.resampling = resampling;
    if (!options.columns.empty()) {
      // The names are checked the way a header row would be.
      CsvStream check(csv, options.columns, resampling);
      if (!check.columnsError().empty()) {
        return usageError(check.columnsError());
      }
    }
  }
  if (haveBaud && !haveSerial) {
    return usageError("--baud goes with --serial");
  }
  options.source = haveFollow   ? SourceKind::Follow
                   : haveSerial ? SourceKind::Serial
                                : SourceKind::StandardInput;
  if (std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (haveSerial) {
    if (std::string problem = serialPathProblem(options.path); !problem.empty()) {
      return usageError(problem);
    }
  }
  return -1;
}

// ---- the run ---------------------------------------------------------------------

class LiveRun {
 public:
  explicit LiveRun(const Options& options) : options_(options) {
    if (options.haveExec) {
      hooks_ = std::make_unique<HookRunner>(options.exec);
    }
  }

  int run(std::unique_ptr<StreamSource> source) {
    source_ = std::move(source);
    session_ = std::make_unique<LiveSession>(
        options_.settings, makeDecoder(), [this](const LiveAlarm& alarm) { onAlarm(alarm); },
        [this](int64_t line, const std::string& problem) {
          warnings_.warn(monotonicMs(),
                         "line " + std::to_string(line) + ": " + problem + "; skipped");
        },
        [this](const std::string& text) { gapWarnings_.warn(monotonicMs(), text); },
        [](const std::string& text) { reportError(text); },
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
        return failure(std::string("poll: ") + std::strerror(errno));
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
        std::to_string(counts.samples) + " samples (" + secondsText(counts.samples) +
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
    reportError(summary);
    if (!outputError_.empty() || journal_.hasFailed()) {
      return 1;
    }
    return 0;
  }

  // Opens --record before any input is read. Returns "" or the error.
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

  std::unique_ptr<SampleDecoder> makeDecoder() const {
    if (options_.csv) {
      return std::make_unique<CsvLineDecoder>(options_.csvOptions, options_.columns,
                                              options_.resampling);
    }
    return std::make_unique<RecordingLineDecoder>();
  }

  static std::string headerText(const std::string& text) {
    std::string line = printable(text);
    if (line.size() > 900) {
      line.resize(900);
    }
    return line;
  }

  HookRunner::Report report() {
    return [](const std::string& text) { reportError(text); };
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

  // The signal to stop on (0: only children ended).
  static int takeSignals() {
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
      reportError(event.text);
    }
  }

  void onAlarm(const LiveAlarm& alarm) {
    const std::string time = wallClockText();
    const std::string seconds = secondsText(alarm.position);
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
    if (outputError_.empty() && !standardOutputBroken()) {
      outputError_ = writeStandardOutput(line);
      if (!outputError_.empty()) {
        reportError("error writing standard output: " + outputError_);
      }
    }
    if ((standardOutputBroken() || !outputError_.empty()) && !hooks_ && !journal_.isOpen()) {
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
    reportError(line);
    statusSamples_ = counts.samples;
    statusFromMs_ = nowMs;
    nextStatusMs_ = nowMs + statusPeriodMs();
  }

  void flushJournal() {
    if (journal_.isOpen() && !journal_.hasFailed()) {
      if (std::string error = journal_.flush(); !error.empty()) {
        reportError(error);
      }
    }
  }

  const Options& options_;
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

int liveMain(int argc, char** argv) {
  Options options;
  if (const int status = parseOptions(argc, argv, options); status >= 0) {
    return status;
  }
  if (!installSignals()) {
    return failure(std::string("cannot set up signal handling: ") + std::strerror(errno));
  }
  std::unique_ptr<StreamSource> source;
  switch (options.source) {
    case SourceKind::StandardInput:
      source = openStandardInput();
      break;
    case SourceKind::Follow:
      source = followFile(options.path);
      break;
    case SourceKind::Serial:
      source = openSerialDevice(options.path, *baudConstant(options.baud));
      break;
  }
  LiveRun run(options);
  if (std::string error = run.openJournal(source->name()); !error.empty()) {
    return usageError(error);
  }
  return run.run(std::move(source));
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-live", argc, argv, liveMain); }
