// velmora-tune: sweeps of the detector's settings, comparisons of two
// settings, and a cross-validated search for the settings that find the
// most falls within a false-alarm budget.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "DefaultSpace.h"
#include "EvalJudge.h"
#include "EvalRecordings.h"
#include "EvalSummary.h"
#include "Evaluation.h"
#include "Explain.h"
#include "ExplainOutput.h"
#include "FileOutput.h"
#include "Folds.h"
#include "PartFile.h"
#include "RecordingCache.h"
#include "RocPlot.h"
#include "Search.h"
#include "SettingsTable.h"
#include "TextUtils.h"
#include "TuneOutput.h"
#include "TuneSpace.h"
#include "Velmora.h"

namespace {

using namespace tune;
using velmora::evaluation::EvalSummary;
using velmora::evaluation::findRecordings;
using velmora::evaluation::LoadedRecording;
using velmora::evaluation::normaliseExtension;
using velmora::evaluation::Outcome;
using velmora::evaluation::outcomeName;
using velmora::evaluation::RecordingEntry;
using velmora::evaluation::RecordingResult;
using velmora::evaluation::RecordingSearch;
using velmora::evaluation::summarise;

constexpr char kProgram[] = "velmora-tune";

constexpr char kUsage[] =
    "Usage: velmora-tune sweep   --vary NAME=FROM:TO[:STEP]... [options] PATH...\n"
    "       velmora-tune compare --a FILE --b FILE [options] PATH...\n"
    "       velmora-tune search  --max-fa-per-hour X --group-by REGEX --folds K [options] PATH...\n"
    "       velmora-tune explain [--space FILE] [--csv FILE] [--json FILE] [options] PATH...\n"
    "       velmora-tune merge   [--csv FILE] [--roc FILE] [-o FILE] PART...\n"
    "\n"
    "Evaluates many detector settings over a set of recordings, reading the\n"
    "recordings as velmora-eval does (same folders, .info rules, outcome rules\n"
    "and figures). Each recording is read once per run and the part of every\n"
    "sample that does not depend on the settings is computed once; each\n"
    "candidate then runs only the settings-dependent step. Output is the same\n"
    "for any -j.\n"
    "\n"
    "sweep    every point of a grid of up to three settings: a table, --csv with\n"
    "         one row per point (the velmora-eval --summary-csv figures), --roc\n"
    "         an SVG of sensitivity against false alarms per hour with the front\n"
    "         and the base settings marked.\n"
    "compare  the outcome of every recording under settings A and B: transitions,\n"
    "         the recordings that changed, both summaries; --csv the changed ones.\n"
    "search   the highest sensitivity with at most X false alarms per hour over\n"
    "         the settings of the space: K-fold cross-validation with folds that\n"
    "         keep each --group-by group together, then a search on all data\n"
    "         written to -o as a settings file. Exit 1 when no candidate stays\n"
    "         within X (no settings file is written then).\n"
    "explain  why each wrong recording is wrong: for every setting of the space\n"
    "         the nearest value on each side that makes it right (every integer\n"
    "         of the range, not only the steps), what that value does to the\n"
    "         whole dataset, the errors by nearest cause and the best fixes;\n"
    "         --csv one row per recording, setting and side that has a fix,\n"
    "         --json everything, what the detector saw near each error included.\n"
    "merge    combines the part files of a run made with --shard into exactly\n"
    "         the outputs of the unsharded run.\n"
    "\n"
    "Options of every command but merge:\n"
    "  --set NAME=VALUE       change one base setting (repeatable)\n"
    "  --settings FILE        settings file: one NAME=VALUE a line, '#' comments\n"
    "  --ext EXT              recording extension in folders (default .csv)\n"
    "  --early-tolerance SEC  as velmora-eval (default 1)\n"
    "  -j, --jobs N           threads (default: all cores)\n"
    "sweep:\n"
    "  --vary NAME=FROM:TO[:STEP]  a varied setting (1 to 3 of them; step 1)\n"
    "  --max-points N         largest grid accepted (default 1000000)\n"
    "  --csv FILE, --roc FILE.svg\n"
    "compare:\n"
    "  --a FILE, --b FILE     settings files of the two sides (on top of the base)\n"
    "  --a-set NAME=VALUE, --b-set NAME=VALUE  one-off changes of one side\n"
    "  --csv FILE             the recordings whose outcome changed\n"
    "search:\n"
    "  --space FILE           settings to search: NAME LOW HIGH [STEP] a line\n"
    "                         (default: the space --print-space shows)\n"
    "  --max-fa-per-hour X    false-alarm budget, a non-negative number\n"
    "  --group-by REGEX       group key: first capture group of REGEX (RE2\n"
    "                         syntax, searched in the file name; no\n"
    "                         back-references or look-around)\n"
    "  --folds K              cross-validation folds (2 .. number of groups)\n"
    "  --trials N             candidates per search (default 200)\n"
    "  --seed S               seed of the search (default 1)\n"
    "  --select RULE          when a candidate keeps the budget on its training\n"
    "                         people: train (its rate), bound[:LEVEL] (the upper\n"
    "                         confidence bound of its rate, LEVEL default 0.8),\n"
    "                         people[:SHARE] (its rate, and at most SHARE of\n"
    "                         the people above the budget, default 0.2), flat\n"
    "                         (its rate and its neighbours'); default train\n"
    "  --max-moved N          change at most N settings from the base (0: any)\n"
    "  -o FILE                settings file of the final search\n"
    "  --csv FILE             every candidate of every search\n"
    "  --print-space          print the default space and exit\n"
    "explain:\n"
    "  --space FILE           settings to try (default: the search's default space)\n"
    "  --csv FILE, --json FILE\n"
    "Sharding (sweep and search):\n"
    "  --shard K/N --part FILE  evaluate only the K-th of N parts and write a\n"
    "                         part file instead of the outputs (a sweep deals\n"
    "                         grid points, a search deals its K+1 searches)\n"
    "  -h, --help, --version\n"
    "An output FILE '-' is standard output; the table is then left out.\n"
    "\n"
    "Exit status: 0 success, 1 unreadable recordings or outputs, or no candidate\n"
    "within the limit, 2 bad command line, settings, space or part files, 3 a\n"
    "search (or merge of one) whose pooled held-out false alarms per hour lie\n"
    "above the budget: the settings file is written, with a warning.\n"
    "\n"
    "Example:\n"
    "  velmora-tune search --group-by '_(SA[0-9]+)_' --folds 5 --max-fa-per-hour 1 \\\n"
    "      --trials 1000 -j 2 -o tuned.settings data/sisfall/\n";

constexpr int kMaxJobs = 1024;
// Exit status of a search whose pooled held-out false alarms per hour lie
// above its budget: the settings file is written, with the same warning.
constexpr int kOverBudgetStatus = 3;
constexpr std::size_t kMaxVaried = 3;
constexpr std::size_t kCandidateBatch = 64;
// A sweep of a million points makes a part of some 80 MB.
constexpr std::size_t kMaxPartBytes = std::size_t{1} << 30;

enum class Command { Sweep, Compare, Search, Explain, Merge };

struct Options {
  Command command = Command::Sweep;
  DetectorSettings settings{};
  std::string extension = ".csv";
  double toleranceSeconds = 1.0;
  int jobs = 0;
  std::vector<Dimension> vary;
  int64_t maxPoints = kDefaultMaxPoints;
  std::string csvPath;
  std::string rocPath;
  std::string outPath;
  std::string jsonPath;
  // compare
  std::vector<std::pair<bool, std::string>> aChanges;  // (is a file, text)
  std::vector<std::pair<bool, std::string>> bChanges;
  // search
  std::string spacePath;
  std::optional<double> maxFalseAlarmsPerHour;
  std::string groupPattern;
  int folds = 0;
  int64_t trials = 200;
  SelectionRule rule;
  int maxMoved = 0;
  uint64_t seed = 1;
  bool printSpace = false;
  // sharding
  std::optional<Shard> shard;
  std::string partPath;
  std::vector<NamedPath> inputFiles;  // settings, space and part files named
  std::vector<std::string> paths;
  std::string commandLine;  // as typed, without outputs, threads and sharding
};

std::optional<double> parseNumber(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Why `text` is not a positive 32-bit count: too large, or no positive
// number at all.
std::string positiveNumberProblem(const std::string& option, const std::string& text) {
  std::string_view digits = text;
  digits.remove_prefix(std::min(digits.size(), digits.find_first_not_of(" \t\r\n")));
  digits = digits.substr(0, digits.find_last_not_of(" \t\r\n") + 1);
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos &&
      !parseInt32(text)) {
    return option + ": '" + text + "' is too large (at most " +
           std::to_string(std::numeric_limits<int32_t>::max()) + ")";
  }
  return option + ": '" + text + "' is not a positive number";
}

// A shell word: quoted unless it is made only of characters that need none.
std::string shellWord(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_./:=,+@%-") == std::string::npos;
  if (plain) {
    return word;
  }
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else if (c == '\n' || c == '\r') {
      quoted += ' ';  // keeps the comment that records the command on one line
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string parseArguments(int argc, char** argv, Options& options, bool& helpShown,
                           bool& versionShown) {
  const std::string commandName = argc > 1 ? argv[1] : "";
  if (commandName == "-h" || commandName == "--help") {
    helpShown = true;
    return {};
  }
  if (commandName == "--version") {
    versionShown = true;
    return {};
  }
  static const std::map<std::string, Command> kCommands = {{"sweep", Command::Sweep},
                                                           {"compare", Command::Compare},
                                                           {"search", Command::Search},
                                                           {"explain", Command::Explain},
                                                           {"merge", Command::Merge}};
  const auto found = kCommands.find(commandName);
  if (found == kCommands.end()) {
    return commandName.empty() ? "no command given (sweep, compare, search, explain or merge)"
                               : "unknown command '" + commandName + "'";
  }
  options.command = found->second;
  options.commandLine = std::string(kProgram) + " " + commandName;
  const Command command = options.command;

  // The options each command takes (beyond -h, --help, --version).
  std::vector<std::string> valued = {"--set", "--settings", "--ext", "--early-tolerance",
                                     "-j",    "--jobs"};
  std::vector<std::string> flags;
  switch (command) {
    case Command::Sweep:
      valued.insert(valued.end(),
                    {"--vary", "--max-points", "--csv", "--roc", "--shard", "--part"});
      break;
    case Command::Compare:
      valued.insert(valued.end(), {"--a", "--b", "--a-set", "--b-set", "--csv"});
      break;
    case Command::Search:
      valued.insert(valued.end(),
                    {"--space", "--max-fa-per-hour", "--group-by", "--folds", "--trials", "--seed",
                     "--select", "--max-moved", "-o", "--csv", "--shard", "--part"});
      flags.push_back("--print-space");
      break;
    case Command::Explain:
      valued.insert(valued.end(), {"--space", "--csv", "--json"});
      break;
    case Command::Merge:
      valued = {"--csv", "--roc", "-o"};
      break;
  }

  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-") {
      return "cannot read standard input ('-'); name files or folders (./- for a file "
             "named '-')";
    }
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      options.paths.push_back(arg);
      options.commandLine += " " + shellWord(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      options.commandLine += " --";
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      helpShown = true;
      return {};
    }
    if (arg == "--version") {
      versionShown = true;
      return {};
    }
    if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
      options.printSpace = true;
      options.commandLine += " " + arg;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
      name = "-j";
      value = arg.substr(2);
    }
    if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
      return "unknown option '" + arg + "' for " + commandName;
    }
    if (!value) {
      if (i + 1 >= argc) {
        return name + " needs a value";
      }
      value = argv[++i];
    }
    // The recorded command keeps what shapes the results: not the outputs,
    // the threads or the sharding, so that every part of a run (and the
    // unsharded run) records the same command.
    static const char* const kNotRecorded[] = {"--shard", "--part", "-j",   "--jobs",
                                               "-o",      "--csv",  "--roc", "--json"};
    if (std::find(std::begin(kNotRecorded), std::end(kNotRecorded), name) ==
        std::end(kNotRecorded)) {
      options.commandLine += " " + name + " " + shellWord(*value);
    }
    if (value->empty() &&
        (name == "--csv" || name == "--roc" || name == "-o" || name == "--part" ||
         name == "--json")) {
      return checkOutputPaths({}, {NamedPath{name, *value}});
    }
    if (name == "--set") {
      if (std::string error = applySetting(options.settings, *value); !error.empty()) {
        return error;
      }
    } else if (name == "--settings") {
      options.inputFiles.push_back(NamedPath{"the settings file", *value});
      if (std::string error = applySettingsFile(options.settings, *value); !error.empty()) {
        return error;
      }
    } else if (name == "--ext") {
      options.extension = normaliseExtension(*value);
      if (options.extension.empty()) {
        return "--ext: '" + *value + "' cannot name recordings";
      }
    } else if (name == "--early-tolerance") {
      const std::optional<double> seconds = parseNumber(*value);
      if (!seconds || *seconds < 0.0 || *seconds > 86400.0) {
        return "--early-tolerance: '" + *value + "' is not a number of seconds in 0..86400";
      }
      options.toleranceSeconds = *seconds;
    } else if (name == "-j" || name == "--jobs") {
      const std::optional<int32_t> jobs = parseInt32(*value);
      if (!jobs || *jobs < 1 || *jobs > kMaxJobs) {
        return name + ": '" + *value + "' is not a number of jobs in 1.." +
               std::to_string(kMaxJobs);
      }
      options.jobs = *jobs;
    } else if (name == "--vary") {
      Dimension dimension;
      if (std::string error = parseVary(*value, dimension); !error.empty()) {
        return error;
      }
      options.vary.push_back(dimension);
    } else if (name == "--max-points") {
      const std::optional<int32_t> points = parseInt32(*value);
      if (!points || *points < 1) {
        return positiveNumberProblem("--max-points", *value);
      }
      options.maxPoints = *points;
    } else if (name == "--csv") {
      options.csvPath = *value;
    } else if (name == "--roc") {
      options.rocPath = *value;
    } else if (name == "--json") {
      options.jsonPath = *value;
    } else if (name == "-o") {
      options.outPath = *value;
    } else if (name == "--a" || name == "--b") {
      options.inputFiles.push_back(NamedPath{"the settings file", *value});
      (name == "--a" ? options.aChanges : options.bChanges).emplace_back(true, *value);
    } else if (name == "--a-set" || name == "--b-set") {
      (name == "--a-set" ? options.aChanges : options.bChanges).emplace_back(false, *value);
    } else if (name == "--space") {
      options.inputFiles.push_back(NamedPath{"the space file", *value});
      options.spacePath = *value;
    } else if (name == "--max-fa-per-hour") {
      const std::optional<double> limit = parseNumber(*value);
      if (!limit || *limit < 0.0) {
        return "--max-fa-per-hour: '" + *value + "' is not a non-negative number";
      }
      options.maxFalseAlarmsPerHour = limit;
    } else if (name == "--group-by") {
      if (value->empty()) {
        return "--group-by needs a regular expression";
      }
      options.groupPattern = *value;
    } else if (name == "--folds") {
      const std::optional<int32_t> folds = parseInt32(*value);
      if (!folds || *folds < 2) {
        return "--folds: '" + *value + "' is not a number of folds (2 or more)";
      }
      options.folds = *folds;
    } else if (name == "--trials") {
      const std::optional<int32_t> trials = parseInt32(*value);
      if (!trials || *trials < 1) {
        return positiveNumberProblem("--trials", *value);
      }
      options.trials = *trials;
    } else if (name == "--select") {
      if (std::string error = parseSelection(*value, options.rule); !error.empty()) {
        return error;
      }
    } else if (name == "--max-moved") {
      const std::optional<int32_t> most = parseInt32(*value);
      if (!most || *most < 0) {
        return "--max-moved: '" + *value + "' is not a number of settings (0 for any)";
      }
      options.maxMoved = *most;
    } else if (name == "--seed") {
      uint64_t seed = 0;
      const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), seed);
      if (value->empty() || error != std::errc() || end != value->data() + value->size()) {
        return "--seed: '" + *value + "' is not a whole number in 0..2^64-1";
      }
      options.seed = seed;
    } else if (name == "--shard") {
      Shard shard;
      if (std::string error = parseShard(*value, shard); !error.empty()) {
        return error;
      }
      options.shard = shard;
    } else if (name == "--part") {
      options.partPath = *value;
    }
  }
  if (options.shard.has_value() != !options.partPath.empty()) {
    return "--shard and --part go together";
  }
  return {};
}

// A progress line on standard error, redrawn at most ten times a second,
// only when standard error is a terminal.
class Progress {
 public:
  Progress() : enabled_(isatty(STDERR_FILENO) == 1) {}
  void show(const std::string& text, bool force = false) {
    if (!enabled_) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ > 0 && now - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = now;
    const int length = static_cast<int>(text.size());
    std::fprintf(stderr, "\r%s: %s%*s", kProgram, text.c_str(), std::max(0, shown_ - length), "");
    std::fflush(stderr);
    shown_ = std::max(shown_, length);
  }
  void clear() {
    if (enabled_ && shown_ > 0) {
      std::fprintf(stderr, "\r%*s\r", shown_ + static_cast<int>(sizeof kProgram) + 1, "");
      std::fflush(stderr);
      shown_ = 0;
    }
  }

 private:
  bool enabled_;
  int shown_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

// Everything a command needs about its recordings, loaded once.
struct Data {
  RecordingCache cache;
  std::vector<std::size_t> all;  // 0..n-1
  int64_t toleranceSamples = 0;
  int jobs = 1;
  std::vector<RecordingProblem> problems;
};

std::vector<Counts> evaluateCounts(const Data& data, const std::vector<std::size_t>& subset,
                                   const std::vector<DetectorSettings>& candidates) {
  std::vector<Counts> counts;
  for (std::size_t start = 0; start < candidates.size(); start += kCandidateBatch) {
    const std::vector<DetectorSettings> batch(
        candidates.begin() + static_cast<std::ptrdiff_t>(start),
        candidates.begin() +
            static_cast<std::ptrdiff_t>(std::min(candidates.size(), start + kCandidateBatch)));
    const auto tallies = evaluateCandidates(data.cache, subset, batch, data.jobs);
    for (const auto& perRecording : tallies) {
      counts.push_back(countsOf(
          summarise(judgeTallies(data.cache, subset, perRecording, data.toleranceSamples))));
    }
  }
  return counts;
}

// Counts per group for every candidate: result[candidate][g] sums the
// recordings i of `subset` with groupOf[i] == g (groupOf parallel to
// `subset`, values below `groups`).
std::vector<std::vector<Counts>> evaluateGroupCounts(
    const Data& data, const std::vector<std::size_t>& subset,
    const std::vector<std::size_t>& groupOf, std::size_t groups,
    const std::vector<DetectorSettings>& candidates) {
  std::vector<std::vector<Counts>> counts;
  for (std::size_t start = 0; start < candidates.size(); start += kCandidateBatch) {
    const std::vector<DetectorSettings> batch(
        candidates.begin() + static_cast<std::ptrdiff_t>(start),
        candidates.begin() +
            static_cast<std::ptrdiff_t>(std::min(candidates.size(), start + kCandidateBatch)));
    const auto tallies = evaluateCandidates(data.cache, subset, batch, data.jobs);
    for (const auto& perRecording : tallies) {
      const std::vector<RecordingResult> judged =
          judgeTallies(data.cache, subset, perRecording, data.toleranceSamples);
      std::vector<std::vector<RecordingResult>> byGroup(groups);
      for (std::size_t i = 0; i < judged.size(); ++i) {
        byGroup[groupOf[i]].push_back(judged[i]);
      }
      std::vector<Counts> perGroup;
      for (const auto& results : byGroup) {
        perGroup.push_back(countsOf(summarise(results)));
      }
      counts.push_back(std::move(perGroup));
    }
  }
  return counts;
}

// Refuses outputs that would overwrite an input or each other, before any
// work.
std::string checkOutputs(const Options& options, const std::vector<RecordingEntry>& recordings) {
  std::vector<NamedPath> inputs = options.inputFiles;
  for (const RecordingEntry& entry : recordings) {
    inputs.push_back(NamedPath{"recording", entry.path});
    if (!entry.infoPath.empty()) {
      inputs.push_back(NamedPath{"info file", entry.infoPath});
    }
  }
  std::vector<NamedPath> outputs;
  for (const auto& [role, path] :
       {std::pair<const char*, const std::string*>{"--csv", &options.csvPath},
        {"--roc", &options.rocPath},
        {"-o", &options.outPath},
        {"--json", &options.jsonPath},
        {"--part", &options.partPath}}) {
    if (!path->empty()) {
      outputs.push_back(NamedPath{role, *path});
    }
  }
  return checkOutputPaths(inputs, outputs);
}

// Finds and reads the recordings. Returns an exit status, or -1 to go on.
int loadData(const Options& options, Data& data,
             std::vector<RecordingEntry>* entriesOut = nullptr) {
  RecordingSearch search = findRecordings(options.paths, options.extension);
  if (!search.error.empty()) {
    return usageError(search.error);
  }
  if (std::string error = checkOutputs(options, search.recordings); !error.empty()) {
    return usageError(error);
  }
  if (entriesOut != nullptr) {
    *entriesOut = search.recordings;
  }
  data.jobs = options.jobs > 0
                  ? options.jobs
                  : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  data.toleranceSamples = velmora::evaluation::toleranceSamples(options.toleranceSeconds);
  Progress progress;
  const std::size_t total = search.recordings.size();
  data.cache = loadCache(search.recordings, data.jobs, [&](std::size_t done) {
    progress.show("read " + std::to_string(done) + "/" + std::to_string(total) + " recordings");
  });
  progress.clear();
  for (std::size_t i = 0; i < data.cache.recordings.size(); ++i) {
    data.all.push_back(i);
    const LoadedRecording& recording = data.cache.recordings[i].loaded;
    if (!recording.readable()) {
      data.problems.push_back(RecordingProblem{recording.path, recording.problem, true});
    } else if (!recording.shortLineNotice.empty()) {
      data.problems.push_back(RecordingProblem{recording.path, recording.shortLineNotice, false});
    }
  }
  return -1;
}

// Prints the problems as velmora-eval does; returns 1 when a recording was
// unreadable, else 0.
int reportProblems(const std::vector<RecordingProblem>& problems) {
  int status = 0;
  for (const RecordingProblem& problem : problems) {
    reportError(problem.path + ": " + problem.message);
    status = problem.unreadable ? 1 : status;
  }
  return status;
}

int writeOutputs(const std::vector<std::pair<std::filesystem::path, std::string>>& files) {
  if (files.empty()) {
    return 0;
  }
  if (std::string error = writeFilesAtomically(files); !error.empty()) {
    return failure(error);
  }
  return 0;
}

int writePart(const Options& options, const Data& data, Part& part) {
  part.shard = *options.shard;
  part.totals = runTotals(data.cache);
  part.command = options.commandLine;
  part.fingerprint = fingerprintOf(part.config);
  int status = reportProblems(part.problems);
  status = std::max(status, writeOutputs({{options.partPath, formatPart(part)}}));
  return status;
}

// The outputs of a sweep, from a run or from merged parts alike.
int emitSweep(const SweepResults& results, const std::vector<RecordingProblem>& problems,
              const std::string& csvPath, const std::string& rocPath) {
  int status = reportProblems(problems);
  // A machine-readable output on standard output leaves no room for the table.
  if (csvPath != "-" && rocPath != "-") {
    std::fputs(sweepTable(results).c_str(), stdout);
  }
  std::vector<std::pair<std::filesystem::path, std::string>> files;
  if (!csvPath.empty()) {
    files.emplace_back(csvPath, sweepCsv(results));
  }
  if (!rocPath.empty()) {
    files.emplace_back(rocPath, sweepRocSvg(results));
  }
  status = std::max(status, writeOutputs(files));
  return status;
}

int emitSearch(const SearchResults& results, const std::vector<RecordingProblem>& problems,
               const std::string& csvPath, const std::string& outPath, const std::string& command) {
  int status = reportProblems(problems);
  if (csvPath != "-" && outPath != "-") {
    std::fputs(searchReport(results).c_str(), stdout);
  } else {
    // The report holds the warning; without it, standard error does.
    for (const std::string& line : budgetWarning(results)) {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  }
  std::vector<std::pair<std::filesystem::path, std::string>> files;
  if (!csvPath.empty()) {
    files.emplace_back(csvPath, searchTrialsCsv(results));
  }
  const bool succeeded = searchSucceeded(results);
  if (!outPath.empty() && succeeded) {
    files.emplace_back(outPath, searchSettingsFile(results, command));
  }
  status = std::max(status, writeOutputs(files));
  if (!succeeded) {
    status = 1;
  }
  // Over the budget held out: a result, but one to distrust. Errors win.
  if (status == 0 && searchOverBudget(results)) {
    status = kOverBudgetStatus;
  }
  return status;
}

int runSweep(const Options& options) {
  if (options.vary.empty()) {
    return usageError("sweep needs at least one --vary NAME=FROM:TO[:STEP]");
  }
  if (options.vary.size() > kMaxVaried) {
    return usageError("sweep varies at most three settings at once");
  }
  if (std::string error = checkSpace(options.vary, options.settings); !error.empty()) {
    return usageError(error);
  }
  const int64_t points = gridSize(options.vary);
  if (points > options.maxPoints) {
    return usageError("the grid has " + std::to_string(points) +
                      " points, more than --max-points " + std::to_string(options.maxPoints));
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  Data data;
  if (const int status = loadData(options, data); status >= 0) {
    return status;
  }
  const Shard shard = options.shard.value_or(Shard{});
  SweepResults results;
  results.space = options.vary;
  results.base = options.settings;
  std::vector<DetectorSettings> candidates;
  const bool withBase = shard.index == 1;
  if (withBase) {
    candidates.push_back(options.settings);
  }
  for (int64_t index = shard.index - 1; index < points; index += shard.count) {
    results.points.push_back(SweepPointResult{index, {}});
    candidates.push_back(
        applyLevels(options.vary, gridLevels(options.vary, index), options.settings));
  }
  Progress progress;
  std::vector<Counts> counts;
  for (std::size_t start = 0; start < candidates.size(); start += kCandidateBatch) {
    progress.show("evaluated " + std::to_string(start) + "/" + std::to_string(candidates.size()) +
                  " settings");
    const std::vector<DetectorSettings> batch(
        candidates.begin() + static_cast<std::ptrdiff_t>(start),
        candidates.begin() +
            static_cast<std::ptrdiff_t>(std::min(candidates.size(), start + kCandidateBatch)));
    for (const Counts& c : evaluateCounts(data, data.all, batch)) {
      counts.push_back(c);
    }
  }
  progress.clear();
  std::size_t next = 0;
  if (withBase) {
    results.baseCounts = counts[next++];
  }
  for (SweepPointResult& point : results.points) {
    point.counts = counts[next++];
  }
  if (options.shard) {
    Part part;
    part.kind = RunKind::Sweep;
    part.config = sweepConfig(results, data.cache.fingerprint, data.toleranceSamples);
    part.problems = data.problems;
    part.sweep = results;
    return writePart(options, data, part);
  }
  return emitSweep(results, data.problems, options.csvPath, options.rocPath);
}

int runSearch(const Options& options) {
  SearchResults results;
  results.config.base = options.settings;
  if (!options.spacePath.empty()) {
    if (std::string error = parseSpaceFile(options.spacePath, results.config.space);
        !error.empty()) {
      return usageError(error);
    }
  } else {
    results.config.space = defaultSpace();
  }
  if (options.printSpace) {
    std::fputs(formatSpace(results.config.space).c_str(), stdout);
    return 0;
  }
  if (std::string error = checkSpace(results.config.space, options.settings); !error.empty()) {
    return usageError(error);
  }
  if (!options.maxFalseAlarmsPerHour) {
    return usageError("search needs --max-fa-per-hour X");
  }
  if (options.groupPattern.empty()) {
    return usageError("search needs --group-by REGEX to keep groups apart");
  }
  if (options.folds == 0) {
    return usageError("search needs --folds K");
  }
  if (options.shard && options.shard->count > options.folds + 1) {
    return usageError("--shard: a search with " + std::to_string(options.folds) +
                      " folds has only " + std::to_string(options.folds + 1) +
                      " searches to deal out");
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  results.config.maxFalseAlarmsPerHour = *options.maxFalseAlarmsPerHour;
  results.config.trials = options.trials;
  results.config.rule = options.rule;
  results.config.maxMoved = options.maxMoved;
  results.seed = options.seed;
  results.folds = options.folds;
  results.groupPattern = options.groupPattern;

  // The folds come from the file names alone: checked before any reading.
  RecordingSearch found = findRecordings(options.paths, options.extension);
  if (!found.error.empty()) {
    return usageError(found.error);
  }
  std::vector<std::string> names;
  for (const RecordingEntry& entry : found.recordings) {
    names.push_back(entry.path);
  }
  FoldPlan plan;
  if (std::string error =
          planFolds(names, options.groupPattern, options.folds, streamSeed(options.seed, 0), plan);
      !error.empty()) {
    return usageError(error);
  }
  Data data;
  std::vector<RecordingEntry> entries;
  if (const int status = loadData(options, data, &entries); status >= 0) {
    return status;
  }
  // Output files set aside may have shifted the list: plan on what is left.
  names.clear();
  for (const RecordingEntry& entry : entries) {
    names.push_back(entry.path);
  }
  if (std::string error =
          planFolds(names, options.groupPattern, options.folds, streamSeed(options.seed, 0), plan);
      !error.empty()) {
    return usageError(error);
  }
  results.foldGroups = plan.groupsOf;
  if (plan.unmatched > 0) {
    reportError(std::to_string(plan.unmatched) +
                " recordings match no group of --group-by; they form one group");
  }

  const Shard shard = options.shard.value_or(Shard{});
  results.searches.assign(static_cast<std::size_t>(options.folds) + 1, std::nullopt);
  Progress progress;
  for (int s = shard.index - 1; s <= options.folds; s += shard.count) {
    std::vector<std::size_t> train;
    std::vector<std::size_t> heldOut;
    for (std::size_t i = 0; i < data.all.size(); ++i) {
      (s < options.folds && plan.foldOf[i] == s ? heldOut : train).push_back(i);
    }
    std::size_t evaluated = 0;
    const std::string label = s < options.folds ? "fold " + std::to_string(s + 1) : "all data";
    // The training recordings' groups (people), numbered in name order.
    std::vector<std::string> trainGroups;
    for (const std::size_t i : train) {
      trainGroups.push_back(plan.groupOf[i]);
    }
    std::sort(trainGroups.begin(), trainGroups.end());
    trainGroups.erase(std::unique(trainGroups.begin(), trainGroups.end()), trainGroups.end());
    std::vector<std::size_t> trainGroupOf;
    for (const std::size_t i : train) {
      trainGroupOf.push_back(static_cast<std::size_t>(
          std::lower_bound(trainGroups.begin(), trainGroups.end(), plan.groupOf[i]) -
          trainGroups.begin()));
    }
    const BatchEvaluator evaluate = [&](const std::vector<DetectorSettings>& candidates) {
      progress.show("search on " + label + ": " + std::to_string(evaluated) + "/" +
                    std::to_string(options.trials) + " candidates");
      evaluated += candidates.size();
      return evaluateGroupCounts(data, train, trainGroupOf, trainGroups.size(), candidates);
    };
    SearchRunResult run;
    run.outcome =
        runSearch(results.config, streamSeed(options.seed, static_cast<uint64_t>(s) + 1), evaluate);
    if (s < options.folds) {
      // Each held-out recording's group, numbered as the fold lists them.
      const std::vector<std::string>& foldGroups = plan.groupsOf[static_cast<std::size_t>(s)];
      std::vector<std::size_t> groupOf;
      for (const std::size_t i : heldOut) {
        groupOf.push_back(static_cast<std::size_t>(
            std::lower_bound(foldGroups.begin(), foldGroups.end(), plan.groupOf[i]) -
            foldGroups.begin()));
      }
      std::vector<DetectorSettings> judged = {options.settings};
      if (run.outcome.best) {
        judged.push_back(applyLevels(
            results.config.space, run.outcome.trials[*run.outcome.best].levels, options.settings));
      }
      const auto counts = evaluateGroupCounts(data, heldOut, groupOf, foldGroups.size(), judged);
      const auto total = [](const std::vector<Counts>& perGroup) {
        Counts sum;
        for (const Counts& c : perGroup) {
          sum += c;
        }
        return sum;
      };
      run.baseHeldOut = total(counts[0]);
      if (run.outcome.best) {
        run.heldOut = total(counts[1]);
        run.heldOutGroups = counts[1];
      }
    } else {
      results.baseCounts = evaluateCounts(data, data.all, {options.settings})[0];
    }
    results.searches[static_cast<std::size_t>(s)] = std::move(run);
  }
  progress.clear();
  if (options.shard) {
    Part part;
    part.kind = RunKind::Search;
    part.config = searchConfig(results, data.cache.fingerprint, data.toleranceSamples);
    part.problems = data.problems;
    part.search = results;
    return writePart(options, data, part);
  }
  return emitSearch(results, data.problems, options.csvPath, options.outPath, options.commandLine);
}

// Applies one side's settings files and one-off changes over the base.
std::string sideSettings(const std::vector<std::pair<bool, std::string>>& changes,
                         DetectorSettings& settings) {
  for (const auto& [isFile, text] : changes) {
    std::string error = isFile ? applySettingsFile(settings, text) : applySetting(settings, text);
    if (!error.empty()) {
      return error;
    }
  }
  return validateSettings(settings);
}

std::string firstText(const RecordingResult& result) {
  if (result.outcome == Outcome::Unreadable) {
    return "-";
  }
  return result.firstIndex ? std::to_string(*result.firstIndex) + " (code " +
                                 std::to_string(result.firstCode) + ")"
                           : "none";
}

int runCompare(const Options& options) {
  DetectorSettings a = options.settings;
  DetectorSettings b = options.settings;
  if (std::string error = sideSettings(options.aChanges, a); !error.empty()) {
    return usageError("side A: " + error);
  }
  if (std::string error = sideSettings(options.bChanges, b); !error.empty()) {
    return usageError("side B: " + error);
  }
  if (std::string error = validateSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  Data data;
  if (const int status = loadData(options, data); status >= 0) {
    return status;
  }
  const auto tallies = evaluateCandidates(data.cache, data.all, {a, b}, data.jobs);
  const std::vector<RecordingResult> resultsA =
      judgeTallies(data.cache, data.all, tallies[0], data.toleranceSamples);
  const std::vector<RecordingResult> resultsB =
      judgeTallies(data.cache, data.all, tallies[1], data.toleranceSamples);
  int status = reportProblems(data.problems);

  const Outcome kOrder[] = {Outcome::TruePositive, Outcome::Missed,       Outcome::EarlyAlarm,
                            Outcome::FalseAlarm,   Outcome::TrueNegative, Outcome::Unreadable};
  const auto slot = [&](Outcome outcome) {
    return static_cast<std::size_t>(std::find(std::begin(kOrder), std::end(kOrder), outcome) -
                                    std::begin(kOrder));
  };
  int64_t table[6][6] = {};
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < resultsA.size(); ++i) {
    ++table[slot(resultsA[i].outcome)][slot(resultsB[i].outcome)];
    if (resultsA[i].outcome != resultsB[i].outcome ||
        resultsA[i].firstIndex != resultsB[i].firstIndex ||
        resultsA[i].firstCode != resultsB[i].firstCode) {
      changed.push_back(i);
    }
  }
  std::string text = "Outcomes under A (rows) and B (columns), " + std::to_string(resultsA.size()) +
                     " recordings:\n";
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"A \\ B"});
  for (const Outcome outcome : kOrder) {
    rows.back().push_back(outcomeName(outcome));
  }
  for (const Outcome from : kOrder) {
    std::vector<std::string> row = {outcomeName(from)};
    for (const Outcome to : kOrder) {
      row.push_back(std::to_string(table[slot(from)][slot(to)]));
    }
    rows.push_back(row);
  }
  const auto align = [](const std::vector<std::vector<std::string>>& cells,
                        std::size_t leftColumns) {
    std::vector<std::size_t> widths;
    for (const auto& row : cells) {
      widths.resize(std::max(widths.size(), row.size()), 0);
      for (std::size_t c = 0; c < row.size(); ++c) {
        widths[c] = std::max(widths[c], row[c].size());
      }
    }
    std::string out;
    for (const auto& row : cells) {
      std::string line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string pad(widths[c] - row[c].size(), ' ');
        line += (c == 0 ? "" : "  ") + (c < leftColumns ? row[c] + pad : pad + row[c]);
      }
      while (!line.empty() && line.back() == ' ') {
        line.pop_back();
      }
      out += "  " + line + "\n";
    }
    return out;
  };
  text += align(rows, 1);
  text += "Recordings whose outcome or first detection changed: " + std::to_string(changed.size()) +
          "\n";
  if (!changed.empty()) {
    std::vector<std::vector<std::string>> list = {{"recording", "A", "A first", "B", "B first"}};
    for (const std::size_t i : changed) {
      list.push_back({resultsA[i].path, outcomeName(resultsA[i].outcome), firstText(resultsA[i]),
                      outcomeName(resultsB[i].outcome), firstText(resultsB[i])});
    }
    text += align(list, 5);
  }
  const EvalSummary summaryA = summarise(resultsA);
  const EvalSummary summaryB = summarise(resultsB);
  std::vector<std::vector<std::string>> figures = {{"", "A", "B"}};
  const auto add = [&](const std::string& name, const std::string& x, const std::string& y) {
    figures.push_back({name, x, y});
  };
  add("sensitivity", percentText(summaryA.sensitivity()), percentText(summaryB.sensitivity()));
  add("specificity", percentText(summaryA.specificity()), percentText(summaryB.specificity()));
  add("accuracy", percentText(summaryA.accuracy()), percentText(summaryB.accuracy()));
  add("false alarms per hour", rateText(summaryA.falseAlarmsPerHour()),
      rateText(summaryB.falseAlarmsPerHour()));
  add("true positives", std::to_string(summaryA.truePositives),
      std::to_string(summaryB.truePositives));
  add("missed", std::to_string(summaryA.missed), std::to_string(summaryB.missed));
  add("early alarms", std::to_string(summaryA.earlyAlarms), std::to_string(summaryB.earlyAlarms));
  add("false alarms", std::to_string(summaryA.falseAlarms), std::to_string(summaryB.falseAlarms));
  add("true negatives", std::to_string(summaryA.trueNegatives),
      std::to_string(summaryB.trueNegatives));
  add("daily-living alarms", std::to_string(summaryA.dailyLivingAlarms),
      std::to_string(summaryB.dailyLivingAlarms));
  text += "Summaries:\n" + align(figures, 1);
  if (options.csvPath != "-") {
    std::fputs(text.c_str(), stdout);
  }

  if (!options.csvPath.empty()) {
    std::string csv =
        "recording,a_outcome,a_first_index,a_first_code,b_outcome,b_first_index,"
        "b_first_code\n";
    const auto first = [](const RecordingResult& result) {
      return result.firstIndex
                 ? std::to_string(*result.firstIndex) + "," + std::to_string(result.firstCode)
                 : std::string(",");
    };
    for (const std::size_t i : changed) {
      csv += csvText(resultsA[i].path) + "," + outcomeName(resultsA[i].outcome) + "," +
             first(resultsA[i]) + "," + outcomeName(resultsB[i].outcome) + "," +
             first(resultsB[i]) + "\n";
    }
    status = std::max(status, writeOutputs({{options.csvPath, csv}}));
  }
  return status;
}

int runExplain(const Options& options) {
  std::vector<Dimension> space;
  if (!options.spacePath.empty()) {
    if (std::string error = parseSpaceFile(options.spacePath, space); !error.empty()) {
      return usageError(error);
    }
  } else {
    space = defaultSpace();
  }
  if (std::string error = checkSpace(space, options.settings); !error.empty()) {
    return usageError(error);
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  Data data;
  if (const int status = loadData(options, data); status >= 0) {
    return status;
  }
  Progress progress;
  progress.show("explaining " + std::to_string(data.cache.recordings.size()) + " recordings",
                true);
  const auto start = std::chrono::steady_clock::now();
  const Explanation explanation = explainRecordings(
      data.cache, ExplainConfig{space, options.settings, data.toleranceSamples, data.jobs});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  progress.clear();
  int status = reportProblems(data.problems);
  if (options.csvPath != "-" && options.jsonPath != "-") {
    std::fputs(explainText(explanation, data.cache).c_str(), stdout);
  }
  // Timing goes to standard error: standard output is the same for any -j.
  char timing[160];
  std::snprintf(timing, sizeof timing,
                "%s: explained in %.2f s: %lld candidate-samples, %.0f per second\n", kProgram,
                seconds, static_cast<long long>(explanation.candidateSamples),
                seconds > 0 ? static_cast<double>(explanation.candidateSamples) / seconds : 0.0);
  std::fputs(timing, stderr);
  std::vector<std::pair<std::filesystem::path, std::string>> files;
  if (!options.csvPath.empty()) {
    files.emplace_back(options.csvPath, explainCsv(explanation));
  }
  if (!options.jsonPath.empty()) {
    files.emplace_back(options.jsonPath,
                       velmora::evaluation::formatJsonValue(explainJson(explanation)) + "\n");
  }
  return std::max(status, writeOutputs(files));
}

int runMerge(const Options& options) {
  if (options.paths.empty()) {
    return usageError("merge needs the part files");
  }
  // The part files are inputs: no output may replace one, and at most one
  // output may go to standard output.
  Options checked = options;
  for (const std::string& path : options.paths) {
    checked.inputFiles.push_back(NamedPath{"part file", path});
  }
  if (std::string error = checkOutputs(checked, {}); !error.empty()) {
    return usageError(error);
  }
  std::vector<Part> parts;
  for (const std::string& path : options.paths) {
    std::string text;
    if (std::string error = readRegularFile(path, "part file", kMaxPartBytes, text);
        !error.empty()) {
      return usageError(error);
    }
    Part part;
    if (std::string error = parsePart(text, path, part); !error.empty()) {
      return usageError(error);
    }
    parts.push_back(std::move(part));
  }
  Part merged;
  if (std::string error = mergeParts(parts, options.paths, merged); !error.empty()) {
    return usageError(error);
  }
  if (merged.kind == RunKind::Sweep) {
    if (!options.outPath.empty()) {
      return usageError("-o is for the parts of a search");
    }
    return emitSweep(merged.sweep, merged.problems, options.csvPath, options.rocPath);
  }
  if (!options.rocPath.empty()) {
    return usageError("--roc is for the parts of a sweep");
  }
  return emitSearch(merged.search, merged.problems, options.csvPath, options.outPath,
                    merged.command);
}

int tuneMain(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  bool helpShown = false;
  bool versionShown = false;
  if (const std::string error = parseArguments(argc, argv, options, helpShown, versionShown);
      !error.empty()) {
    return usageError(error);
  }
  if (helpShown) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (versionShown) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  if (options.command != Command::Merge) {
    if (const std::string error = validateSettings(options.settings); !error.empty()) {
      return usageError(error);
    }
  }
  switch (options.command) {
    case Command::Sweep:
      return runSweep(options);
    case Command::Compare:
      return runCompare(options);
    case Command::Search:
      return runSearch(options);
    case Command::Explain:
      return runExplain(options);
    case Command::Merge:
      return runMerge(options);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) { return runTool(kProgram, argc, argv, tuneMain); }
