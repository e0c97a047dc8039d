// velmora-tune explain: why each wrong recording is wrong, and the nearest
// value of every setting of the space that would make it right.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "DefaultSpace.h"
#include "EvalRender.h"
#include "Explain.h"
#include "ExplainOutput.h"
#include "ProgressLine.h"
#include "TuneCommands.h"
#include "TuneRun.h"
#include "TuneSpace.h"

namespace tune::tool {

int explainCommand(const Options& options) {
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
  ProgressLine progress;
  progress.show("explaining " + std::to_string(data.cache.recordings.size()) + " recordings", true);
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
  std::snprintf(
      timing, sizeof timing, "%s: explained in %.2f s: %lld candidate-samples, %.0f per second\n",
      programName().c_str(), seconds, static_cast<long long>(explanation.candidateSamples),
      seconds > 0 ? static_cast<double>(explanation.candidateSamples) / seconds : 0.0);
  std::fputs(timing, stderr);
  std::vector<OutputItem> files;
  if (!options.csvPath.empty()) {
    files.emplace_back(options.csvPath, explainCsv(explanation));
  }
  if (!options.jsonPath.empty()) {
    files.emplace_back(options.jsonPath,
                       velmora::evaluation::formatJsonValue(explainJson(explanation)) + "\n");
  }
  return std::max(status, writeFiles(files));
}

}  // namespace tune::tool
