// Cross-validation folds that keep the recordings of one group (one person,
// say) together, so that a fold's people are never seen in training.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EvalGroups.h"

namespace tune {

struct FoldPlan {
  std::vector<std::string> groupOf;                // per recording: its group name
  std::vector<int> foldOf;                         // per recording: 0..folds-1
  std::vector<std::vector<std::string>> groupsOf;  // per fold: its groups, ascending
  int64_t unmatched = 0;                           // recordings the key named no group for
};

// Names each recording's group after the first capture group of `pattern`
// in its file name (as velmora-eval --group-by does); the recordings it does
// not match form one group of their own. Deals the distinct groups, in an
// order shuffled by `seed`, round-robin into `folds` folds. Returns an error
// message (a bad pattern, no match at all, fewer groups than folds) or "".
[[nodiscard]] std::string planFolds(const std::vector<std::string>& names,
                                    const std::string& pattern, int folds, uint64_t seed,
                                    FoldPlan& plan);

// Deals recordings whose groups are already named, one per recording (as
// velmora::evaluation::nameGroups names them; "" for none: those form one
// group of their own), as planFolds does. `option` names the grouping in
// errors ("--group-by-column subject"). Returns an error message (no
// recording has a group, fewer groups than folds) or "".
[[nodiscard]] std::string planFoldsOfGroups(std::vector<std::string> groupOf,
                                            const std::string& option, int folds, uint64_t seed,
                                            FoldPlan& plan);

// How a report names the key the folds keep together: "'_(SA[0-9]+)_'" for a
// pattern, "column 'subject'" for a column of the index files.
[[nodiscard]] std::string foldKeyText(const velmora::evaluation::GroupKey& key);

}  // namespace tune
