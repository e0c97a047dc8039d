// What a sweep or a search found, in a form that a part file carries
// exactly: every figure derives from integer counts, so merged parts give
// the same outputs as one unsharded run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EvalGroups.h"
#include "Search.h"
#include "TuneSpace.h"
#include "Velmora.h"

namespace tune {

// A recording that could not be read, or that had short lines, with the
// message the run printed for it.
struct RecordingProblem {
  std::string path;
  std::string message;
  bool unreadable = false;
};

struct SweepPointResult {
  int64_t index = 0;  // grid point, see gridLevels
  OutcomeCounts counts;
};

struct SweepResults {
  std::vector<Dimension> space;
  DetectorSettings base{};
  std::vector<SweepPointResult> points;  // ascending by index
  std::optional<OutcomeCounts> baseCounts;      // the base settings themselves
};

struct SearchRunResult {
  SearchOutcome outcome;
  std::optional<OutcomeCounts> heldOut;      // the best trial on the held-out fold
  std::optional<OutcomeCounts> baseHeldOut;  // the base settings on the held-out fold
  // The best trial on each held-out group, in the order of the fold's
  // groups (SearchResults::foldGroups); they sum to `heldOut`.
  std::vector<OutcomeCounts> heldOutGroups;
};

struct SearchResults {
  SearchConfig config;
  uint64_t seed = 1;
  int folds = 0;
  // The key whose groups (people) the folds keep together.
  velmora::evaluation::GroupKey groupKey;
  // For a column key: a digest of every recording's group, in the order of
  // the recordings, so that parts read with other index files do not merge.
  // (A pattern's groups follow from the names, which the data digest holds.)
  uint64_t groupsDigest = 0;
  std::vector<std::vector<std::string>> foldGroups;  // per fold
  // Searches 0..folds-1 hold out that fold; search `folds` uses all data.
  std::vector<std::optional<SearchRunResult>> searches;
  std::optional<OutcomeCounts> baseCounts;  // the base settings on all data
  // Fingerprints ("sha256:<hex>") of the readable recordings the search ran
  // on, written into the settings file (see Provenance.h).
  std::vector<std::string> tunedOn;
};

}  // namespace tune
