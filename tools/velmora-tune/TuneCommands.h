// The commands of velmora-tune, one file each. Each returns the exit status.
#pragma once

#include "TuneOptions.h"

namespace tune::tool {

// Every point of a grid of settings: a table, a CSV and an ROC figure.
[[nodiscard]] int sweepCommand(const Options& options);
// Every recording's outcome under settings A and B.
[[nodiscard]] int compareCommand(const Options& options);
// A cross-validated search for the best settings within a false-alarm budget.
[[nodiscard]] int searchCommand(const Options& options);
// Why each wrong recording is wrong: the nearest fix of every setting.
[[nodiscard]] int explainCommand(const Options& options);
// The outputs of a sharded run from its part files.
[[nodiscard]] int mergeCommand(const Options& options);

}  // namespace tune::tool
