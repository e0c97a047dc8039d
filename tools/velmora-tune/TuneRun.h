// What the commands of velmora-tune share: the recordings loaded once, the
// counts of candidates over them, and the outputs of a sweep, a search or a
// part file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "EvalRecordings.h"
#include "FileOutput.h"
#include "PartFile.h"
#include "RecordingCache.h"
#include "TuneOptions.h"
#include "TuneResults.h"
#include "Velmora.h"

namespace tune::tool {

// Candidates evaluated at once (and between two redraws of the progress line).
inline constexpr std::size_t kCandidateBatch = 64;
// Exit status of a search whose pooled held-out false alarms per hour lie
// above its budget: the settings file is written, with the same warning.
inline constexpr int kOverBudgetStatus = 3;

// Everything a command needs about its recordings, loaded once.
struct Data {
  RecordingCache cache;
  std::vector<std::size_t> all;  // 0..n-1
  int64_t toleranceSamples = 0;
  int jobs = 1;
  std::vector<RecordingProblem> problems;
};

// The counts of each candidate over the recordings `subset` of `data`.
std::vector<OutcomeCounts> evaluateCounts(const Data& data, const std::vector<std::size_t>& subset,
                                   const std::vector<DetectorSettings>& candidates);

// Counts per group for every candidate: result[candidate][g] sums the
// recordings i of `subset` with groupOf[i] == g (groupOf parallel to
// `subset`, values below `groups`).
std::vector<std::vector<OutcomeCounts>> evaluateGroupCounts(
    const Data& data, const std::vector<std::size_t>& subset,
    const std::vector<std::size_t>& groupOf, std::size_t groups,
    const std::vector<DetectorSettings>& candidates);

// Refuses outputs that would overwrite an input or each other, before any
// work.
std::string checkOutputs(const Options& options,
                         const std::vector<velmora::evaluation::RecordingEntry>& recordings);

// Finds and reads the recordings. Returns an exit status, or -1 to go on.
int loadData(const Options& options, Data& data,
             std::vector<velmora::evaluation::RecordingEntry>* entriesOut = nullptr);

// Prints the problems as velmora-eval does; returns 1 when a recording was
// unreadable, else 0.
int reportProblems(const std::vector<RecordingProblem>& problems);

// Writes the files, each replaced only once all are complete. Returns 0, or
// 1 after reporting a failure.
int writeFiles(const std::vector<OutputItem>& files);

// Writes the part file of a sharded run.
int writePart(const Options& options, const Data& data, Part& part);

// The outputs of a sweep, from a run or from merged parts alike; a budget
// is drawn in the figure and marked in the table and the CSV.
int emitSweep(const SweepResults& results, const std::vector<RecordingProblem>& problems,
              const std::string& csvPath, const std::string& rocPath, std::optional<double> budget);
// The outputs of a search, from a run or from merged parts alike; 1 when no
// candidate stayed within the limit, kOverBudgetStatus when the pooled
// held-out false alarms per hour lie above the budget.
int emitSearch(const SearchResults& results, const std::vector<RecordingProblem>& problems,
               const std::string& csvPath, const std::string& outPath, const std::string& command);

}  // namespace tune::tool
