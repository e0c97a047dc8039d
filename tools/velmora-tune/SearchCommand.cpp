// velmora-tune search: the settings of a space that find the most falls
// within a false-alarm budget, judged by cross-validation.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "DefaultSpace.h"
#include "Digest.h"
#include "EvalGroups.h"
#include "EvalRecordings.h"
#include "Folds.h"
#include "ProgressLine.h"
#include "Search.h"
#include "TuneCommands.h"
#include "TuneRun.h"
#include "TuneSpace.h"

namespace tune::tool {

using velmora::evaluation::findRecordings;
using velmora::evaluation::GroupKey;
using velmora::evaluation::GroupNames;
using velmora::evaluation::nameGroups;
using velmora::evaluation::RecordingEntry;
using velmora::evaluation::RecordingSearch;

namespace {

// The folds of `recordings` by `key`. Fills `indexFiles` with the index
// files a column key read. Returns an error message or "".
std::string planFoldsBy(const GroupKey& key, const std::vector<RecordingEntry>& recordings,
                        int folds, uint64_t seed, FoldPlan& plan,
                        std::vector<std::string>& indexFiles) {
  if (key.kind == GroupKey::Kind::Pattern) {
    // The pattern reads the file names alone.
    std::vector<std::string> names;
    for (const RecordingEntry& entry : recordings) {
      names.push_back(entry.path);
    }
    return planFolds(names, key.text, folds, seed, plan);
  }
  GroupNames named = nameGroups(recordings, {key});
  if (!named.error.empty()) {
    return named.error;
  }
  indexFiles = std::move(named.indexFiles);
  return planFoldsOfGroups(std::move(named.groups), "--group-by-column " + key.text, folds, seed,
                           plan);
}

// A digest of every recording's group, in order.
uint64_t groupsDigest(const std::vector<std::string>& groupOf) {
  Digest digest;
  for (const std::string& group : groupOf) {
    digest.add(group);
  }
  return digest.value();
}

}  // namespace

int searchCommand(const Options& options) {
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
  if (options.groupKeys.empty()) {
    return usageError(
        "search needs --group-by REGEX to keep groups apart (or --group-by-column COLUMN)");
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
  results.groupKey = options.groupKeys.front();

  // The folds come from the names (and index files) alone: checked before
  // any reading.
  RecordingSearch found = findRecordings(options.paths, options.extension);
  if (!found.error.empty()) {
    return usageError(found.error);
  }
  FoldPlan plan;
  std::vector<std::string> indexFiles;
  if (std::string error = planFoldsBy(results.groupKey, found.recordings, options.folds,
                                      streamSeed(options.seed, 0), plan, indexFiles);
      !error.empty()) {
    return usageError(error);
  }
  // The index files read are inputs: no output may replace one.
  Options withIndexes = options;
  for (const std::string& index : indexFiles) {
    withIndexes.inputFiles.push_back(NamedPath{"index file", index});
  }
  Data data;
  std::vector<RecordingEntry> entries;
  if (const int status = loadData(withIndexes, data, &entries); status >= 0) {
    return status;
  }
  // Output files set aside may have shifted the list: plan on what is left.
  if (std::string error = planFoldsBy(results.groupKey, entries, options.folds,
                                      streamSeed(options.seed, 0), plan, indexFiles);
      !error.empty()) {
    return usageError(error);
  }
  results.foldGroups = plan.groupsOf;
  if (results.groupKey.kind == GroupKey::Kind::Column) {
    results.groupsDigest = groupsDigest(plan.groupOf);
  }
  for (const CachedRecording& cached : data.cache.recordings) {
    if (cached.loaded.readable() && !cached.fileFingerprint.empty()) {
      results.tunedOn.push_back(cached.fileFingerprint);
    }
  }
  if (plan.unmatched > 0) {
    reportError(std::to_string(plan.unmatched) +
                (results.groupKey.kind == GroupKey::Kind::Pattern
                     ? " recordings match no group of --group-by; they form one group"
                     : " recordings have no value in column '" + results.groupKey.text +
                           "' of an index file; they form one group"));
  }

  const Shard shard = options.shard.value_or(Shard{});
  results.searches.assign(static_cast<std::size_t>(options.folds) + 1, std::nullopt);
  ProgressLine progress;
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
      const auto total = [](const std::vector<OutcomeCounts>& perGroup) {
        OutcomeCounts sum;
        for (const OutcomeCounts& c : perGroup) {
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

}  // namespace tune::tool
