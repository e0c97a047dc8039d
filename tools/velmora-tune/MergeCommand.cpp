// velmora-tune merge: the outputs of a sharded run from its part files.
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "PartFile.h"
#include "TextUtils.h"
#include "TuneCommands.h"
#include "TuneRun.h"

namespace tune::tool {

namespace {

// A sweep of a million points makes a part of some 80 MB.
constexpr std::size_t kMaxPartBytes = std::size_t{1} << 30;

}  // namespace

int mergeCommand(const Options& options) {
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
    return emitSweep(merged.sweep, merged.problems, options.csvPath, options.rocPath,
                     options.maxFalseAlarmsPerHour);
  }
  if (!options.rocPath.empty()) {
    return usageError("--roc is for the parts of a sweep");
  }
  if (options.maxFalseAlarmsPerHour) {
    return usageError(
        "--max-fa-per-hour is for the parts of a sweep; a search's parts hold its own");
  }
  return emitSearch(merged.search, merged.problems, options.csvPath, options.outPath,
                    merged.command);
}

}  // namespace tune::tool
