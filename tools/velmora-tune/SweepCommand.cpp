// velmora-tune sweep: every point of a grid of up to three settings.
#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ProgressLine.h"
#include "TuneCommands.h"
#include "TuneRun.h"
#include "TuneSpace.h"

namespace tune::tool {

namespace {

constexpr std::size_t kMaxVaried = 3;

}  // namespace

int sweepCommand(const Options& options) {
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
  if (options.shard && options.maxFalseAlarmsPerHour) {
    return usageError(
        "--max-fa-per-hour only marks a sweep's outputs, which a shard does not write: give it "
        "to merge");
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
  ProgressLine progress;
  std::vector<OutcomeCounts> counts;
  for (std::size_t start = 0; start < candidates.size(); start += kCandidateBatch) {
    progress.show("evaluated " + std::to_string(start) + "/" + std::to_string(candidates.size()) +
                  " settings");
    const std::vector<DetectorSettings> batch(
        candidates.begin() + static_cast<std::ptrdiff_t>(start),
        candidates.begin() +
            static_cast<std::ptrdiff_t>(std::min(candidates.size(), start + kCandidateBatch)));
    for (const OutcomeCounts& c : evaluateCounts(data, data.all, batch)) {
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
  return emitSweep(results, data.problems, options.csvPath, options.rocPath,
                   options.maxFalseAlarmsPerHour);
}

}  // namespace tune::tool
