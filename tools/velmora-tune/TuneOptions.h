// The command line of velmora-tune: which command, and its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "EvalGroups.h"
#include "PartFile.h"
#include "Search.h"
#include "TuneSpace.h"
#include "Velmora.h"

namespace tune::tool {

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
  std::vector<velmora::evaluation::GroupKey> groupKeys;  // as given; a search takes one
  int folds = 0;
  int64_t trials = SearchConfig{}.trials;
  SelectionRule rule;
  int maxMoved = SearchConfig{}.maxMoved;
  uint64_t seed = 1;
  bool printSpace = false;
  // sharding
  std::optional<Shard> shard;
  std::string partPath;
  std::vector<std::string> settingsFiles;  // --settings
  std::vector<NamedPath> inputFiles;       // settings, space and part files named
  std::vector<std::string> paths;
  std::string commandLine;  // as typed, without outputs, threads and sharding
};

// Parses argv (argv[1] is the command) into `options`; returns a message
// for a usage error, or "". Stops at --help and --version, setting the flag.
[[nodiscard]] std::string parseArguments(int argc, char** argv, Options& options, bool& helpShown,
                                         bool& versionShown);

}  // namespace tune::tool
