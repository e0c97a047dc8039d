#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "CommandLine.h"
#include "EvalRecordings.h"
#include "SettingsTable.h"
#include "TuneOptions.h"

namespace tune::tool {

namespace {

using velmora::evaluation::normaliseExtension;

constexpr char kProgram[] = "velmora-tune";
constexpr int kMaxJobs = 1024;

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

}  // namespace

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
    static const char* const kNotRecorded[] = {"--shard", "--part", "-j",    "--jobs",
                                               "-o",      "--csv",  "--roc", "--json"};
    if (std::find(std::begin(kNotRecorded), std::end(kNotRecorded), name) ==
        std::end(kNotRecorded)) {
      options.commandLine += " " + name + " " + shellWord(*value);
    }
    if (value->empty() && (name == "--csv" || name == "--roc" || name == "-o" || name == "--part" ||
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

}  // namespace tune::tool
