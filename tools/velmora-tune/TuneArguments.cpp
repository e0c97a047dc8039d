#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
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
#include "OptionParser.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "TuneOptions.h"

namespace tune::tool {

namespace {

using velmora::evaluation::GroupKey;
using velmora::evaluation::normaliseExtension;

constexpr char kProgram[] = "velmora-tune";

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

  // Every option applies itself as it comes; `fail` turns a check into the
  // "" or message an option returns.
  using Apply = std::function<std::string(const std::string&, const std::string&)>;
  OptionTable table;
  const auto add = [&table](std::vector<std::string> names, Apply apply) {
    table.push_back({std::move(names), true, std::move(apply)});
  };
  // An output path: empty is refused at once, as checkOutputPaths words it.
  const auto output = [&add](const std::string& name, std::string& path) {
    add({name}, [&path](const std::string& as, const std::string& value) {
      path = value;
      return value.empty() ? checkOutputPaths({}, {NamedPath{as, value}}) : std::string();
    });
  };
  const auto space = [&add, &options] {
    add({"--space"}, [&options](const std::string&, const std::string& value) {
      options.inputFiles.push_back(NamedPath{"the space file", value});
      options.spacePath = value;
      return std::string();
    });
  };
  // The false-alarm budget: a search keeps it, a sweep (or a merge of one)
  // draws and marks it.
  const auto budget = [&add, &options] {
    add({"--max-fa-per-hour"}, [&options](const std::string&, const std::string& value) {
      const std::optional<double> limit = parseOptionNumber(value);
      if (!limit || *limit < 0.0) {
        return "--max-fa-per-hour: '" + value + "' is not a non-negative number";
      }
      options.maxFalseAlarmsPerHour = limit;
      return std::string();
    });
  };
  if (command != Command::Merge) {
    table = settingsOptions(options.settings, options.settingsFiles);
    add({"--ext"}, [&options](const std::string&, const std::string& value) {
      options.extension = normaliseExtension(value);
      return options.extension.empty() ? "--ext: '" + value + "' cannot name recordings"
                                       : std::string();
    });
    add({"--early-tolerance"}, [&options](const std::string&, const std::string& value) {
      const std::optional<double> seconds = parseOptionNumber(value);
      if (!seconds || *seconds < 0.0 || *seconds > 86400.0) {
        return "--early-tolerance: '" + value + "' is not a number of seconds in 0..86400";
      }
      options.toleranceSeconds = *seconds;
      return std::string();
    });
    table.push_back(jobsOption(options.jobs));
  }
  if (command == Command::Sweep || command == Command::Search) {
    add({"--shard"}, [&options](const std::string&, const std::string& value) {
      Shard shard;
      std::string error = parseShard(value, shard);
      options.shard = shard;
      return error;
    });
    output("--part", options.partPath);
  }
  switch (command) {
    case Command::Sweep:
      add({"--vary"}, [&options](const std::string&, const std::string& value) {
        Dimension dimension;
        std::string error = parseVary(value, dimension);
        options.vary.push_back(dimension);
        return error;
      });
      add({"--max-points"}, [&options](const std::string&, const std::string& value) {
        const std::optional<int32_t> points = parseInt32(value);
        if (!points || *points < 1) {
          return positiveNumberProblem("--max-points", value);
        }
        options.maxPoints = *points;
        return std::string();
      });
      output("--csv", options.csvPath);
      output("--roc", options.rocPath);
      budget();
      break;
    case Command::Compare:
      for (const bool sideA : {true, false}) {
        auto& changes = sideA ? options.aChanges : options.bChanges;
        add({sideA ? "--a" : "--b"},
            [&options, &changes](const std::string&, const std::string& value) {
              options.inputFiles.push_back(NamedPath{"the settings file", value});
              changes.emplace_back(true, value);
              return std::string();
            });
        add({sideA ? "--a-set" : "--b-set"},
            [&changes](const std::string&, const std::string& value) {
              changes.emplace_back(false, value);
              return std::string();
            });
      }
      output("--csv", options.csvPath);
      break;
    case Command::Explain:
      space();
      output("--csv", options.csvPath);
      output("--json", options.jsonPath);
      break;
    case Command::Search:
      space();
      budget();
      add({"--group-by"}, [&options](const std::string&, const std::string& value) {
        if (value.empty()) {
          return std::string("--group-by needs a regular expression");
        }
        options.groupKeys.push_back({GroupKey::Kind::Pattern, value});
        return std::string();
      });
      add({"--group-by-column"}, [&options](const std::string&, const std::string& value) {
        if (value.empty()) {
          return std::string("--group-by-column needs a column name");
        }
        options.groupKeys.push_back({GroupKey::Kind::Column, value});
        return std::string();
      });
      add({"--folds"}, [&options](const std::string&, const std::string& value) {
        const std::optional<int32_t> folds = parseInt32(value);
        if (!folds || *folds < 2) {
          return "--folds: '" + value + "' is not a number of folds (2 or more)";
        }
        options.folds = *folds;
        return std::string();
      });
      add({"--trials"}, [&options](const std::string&, const std::string& value) {
        const std::optional<int32_t> trials = parseInt32(value);
        if (!trials || *trials < 1) {
          return positiveNumberProblem("--trials", value);
        }
        options.trials = *trials;
        return std::string();
      });
      add({"--seed"}, [&options](const std::string&, const std::string& value) {
        uint64_t seed = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seed);
        if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
          return "--seed: '" + value + "' is not a whole number in 0..2^64-1";
        }
        options.seed = seed;
        return std::string();
      });
      add({"--select"}, [&options](const std::string&, const std::string& value) {
        return parseSelection(value, options.rule);
      });
      add({"--max-moved"}, [&options](const std::string&, const std::string& value) {
        const std::optional<int32_t> most = parseInt32(value);
        if (!most || *most < 0) {
          return "--max-moved: '" + value + "' is not a number of settings (0 for any)";
        }
        options.maxMoved = *most;
        return std::string();
      });
      output("-o", options.outPath);
      output("--csv", options.csvPath);
      table.push_back(flagOption({"--print-space"}, options.printSpace));
      break;
    case Command::Merge:
      output("--csv", options.csvPath);
      output("--roc", options.rocPath);
      output("-o", options.outPath);
      budget();
      break;
  }

  ParsedCommandLine parsed;
  if (std::string error = parseCommandLine(argc, argv, 2, table, parsed, " for " + commandName);
      !error.empty()) {
    return error;
  }
  helpShown = parsed.help;
  versionShown = parsed.version;
  if (helpShown || versionShown) {
    return {};
  }
  for (const std::string& path : options.settingsFiles) {
    options.inputFiles.push_back(NamedPath{"the settings file", path});
  }
  // The recorded command keeps what shapes the results: not the outputs,
  // the threads or the sharding, so that every part of a run (and the
  // unsharded run) records the same command.
  static const char* const kNotRecorded[] = {"--shard", "--part", "-j",    "--jobs",
                                             "-o",      "--csv",  "--roc", "--json"};
  for (const ParsedWord& word : parsed.words) {
    if (word.kind == ParsedWord::Kind::Operand) {
      if (word.value == "-") {
        return "cannot read standard input ('-'); name files or folders (./- for a file "
               "named '-')";
      }
      options.paths.push_back(word.value);
      options.commandLine += " " + shellWord(word.value);
    } else if (word.kind == ParsedWord::Kind::EndOfOptions) {
      options.commandLine += " --";
    } else if (!word.option->takesValue) {
      options.commandLine += " " + word.spelled;
    } else if (std::find(std::begin(kNotRecorded), std::end(kNotRecorded), word.spelled) ==
               std::end(kNotRecorded)) {
      options.commandLine += " " + word.spelled + " " + shellWord(word.value);
    }
  }
  if (options.shard.has_value() != !options.partPath.empty()) {
    return "--shard and --part go together";
  }
  // velmora-eval combines several keys into finer groups (A/B); folds cut
  // along those would split one person's recordings between training and
  // held-out, so a search takes one key.
  if (options.groupKeys.size() > 1) {
    const auto optionOf = [](const GroupKey& key) {
      return key.kind == GroupKey::Kind::Pattern ? "--group-by" : "--group-by-column";
    };
    const std::string first = optionOf(options.groupKeys[0]);
    const std::string second = optionOf(options.groupKeys[1]);
    return (first == second ? first + " is given more than once"
                            : "--group-by and --group-by-column cannot be combined") +
           ": the folds keep the groups of one key together";
  }
  return {};
}

}  // namespace tune::tool
