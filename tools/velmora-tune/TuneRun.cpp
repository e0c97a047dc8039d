#include "TuneRun.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "CommandLine.h"
#include "EvalJudge.h"
#include "EvalSummary.h"
#include "FileOutput.h"
#include "ProgressLine.h"
#include "RocPlot.h"
#include "TuneOutput.h"

namespace tune::tool {

using velmora::evaluation::findRecordings;
using velmora::evaluation::LoadedRecording;
using velmora::evaluation::RecordingEntry;
using velmora::evaluation::RecordingResult;
using velmora::evaluation::RecordingSearch;
using velmora::evaluation::summarise;

namespace {

// Evaluates the candidates in batches of kCandidateBatch on `subset` and
// hands each candidate's judged results, in order, to `use`.
template <typename Use>
void judgeInBatches(const Data& data, const std::vector<std::size_t>& subset,
                    const std::vector<DetectorSettings>& candidates, Use&& use) {
  for (std::size_t start = 0; start < candidates.size(); start += kCandidateBatch) {
    const std::vector<DetectorSettings> batch(
        candidates.begin() + static_cast<std::ptrdiff_t>(start),
        candidates.begin() +
            static_cast<std::ptrdiff_t>(std::min(candidates.size(), start + kCandidateBatch)));
    for (const auto& perRecording : evaluateCandidates(data.cache, subset, batch, data.jobs)) {
      use(judgeTallies(data.cache, subset, perRecording, data.toleranceSamples));
    }
  }
}

}  // namespace

std::vector<OutcomeCounts> evaluateCounts(const Data& data, const std::vector<std::size_t>& subset,
                                          const std::vector<DetectorSettings>& candidates) {
  std::vector<OutcomeCounts> counts;
  judgeInBatches(data, subset, candidates, [&](const std::vector<RecordingResult>& judged) {
    counts.push_back(OutcomeCounts(summarise(judged)));
  });
  return counts;
}

std::vector<std::vector<OutcomeCounts>> evaluateGroupCounts(
    const Data& data, const std::vector<std::size_t>& subset,
    const std::vector<std::size_t>& groupOf, std::size_t groups,
    const std::vector<DetectorSettings>& candidates) {
  std::vector<std::vector<OutcomeCounts>> counts;
  judgeInBatches(data, subset, candidates, [&](const std::vector<RecordingResult>& judged) {
    std::vector<std::vector<RecordingResult>> byGroup(groups);
    for (std::size_t i = 0; i < judged.size(); ++i) {
      byGroup[groupOf[i]].push_back(judged[i]);
    }
    std::vector<OutcomeCounts> perGroup;
    for (const auto& results : byGroup) {
      perGroup.push_back(OutcomeCounts(summarise(results)));
    }
    counts.push_back(std::move(perGroup));
  });
  return counts;
}

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

int loadData(const Options& options, Data& data, std::vector<RecordingEntry>* entriesOut) {
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
  ProgressLine progress;
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

int reportProblems(const std::vector<RecordingProblem>& problems) {
  int status = 0;
  for (const RecordingProblem& problem : problems) {
    reportError(problem.path + ": " + problem.message);
    status = problem.unreadable ? 1 : status;
  }
  return status;
}

int writeFiles(const std::vector<OutputItem>& files) {
  if (files.empty()) {
    return 0;
  }
  if (std::string error = writeOutputs(files); !error.empty()) {
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
  status = std::max(status, writeFiles({{options.partPath, formatPart(part)}}));
  return status;
}

int emitSweep(const SweepResults& results, const std::vector<RecordingProblem>& problems,
              const std::string& csvPath, const std::string& rocPath,
              std::optional<double> budget) {
  int status = reportProblems(problems);
  // A machine-readable output on standard output leaves no room for the table.
  if (csvPath != "-" && rocPath != "-") {
    std::fputs(sweepTable(results, budget).c_str(), stdout);
  }
  std::vector<OutputItem> files;
  if (!csvPath.empty()) {
    files.emplace_back(csvPath, sweepCsv(results, budget));
  }
  if (!rocPath.empty()) {
    files.emplace_back(rocPath, sweepRocSvg(results, budget));
  }
  status = std::max(status, writeFiles(files));
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
  std::vector<OutputItem> files;
  if (!csvPath.empty()) {
    files.emplace_back(csvPath, searchTrialsCsv(results));
  }
  const bool succeeded = searchSucceeded(results);
  if (!outPath.empty() && succeeded) {
    files.emplace_back(outPath, searchSettingsFile(results, command));
  }
  status = std::max(status, writeFiles(files));
  if (!succeeded) {
    status = 1;
  }
  // Over the budget held out: a result, but one to distrust. Errors win.
  if (status == 0 && searchOverBudget(results)) {
    status = kOverBudgetStatus;
  }
  return status;
}

}  // namespace tune::tool
