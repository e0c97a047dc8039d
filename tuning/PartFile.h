// Part files: the results of one shard of a sweep or search, in a text
// format that `velmora-tune merge` combines into the outputs of one
// unsharded run. Each part names the run it belongs to by a fingerprint
// of the data, the settings, the space and the seed; parts of different
// runs refuse to merge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TuneResults.h"

namespace tune {

enum class RunKind { Sweep, Search };

struct Shard {
  int index = 1;  // 1..count
  int count = 1;
};

// Parses "K/N" with 1 <= K <= N. Returns an error message or "".
[[nodiscard]] std::string parseShard(const std::string& text, Shard& shard);

struct Part {
  RunKind kind = RunKind::Sweep;
  Shard shard;
  std::string command;  // the command line, without the shard options
  std::string config;   // canonical text of every choice that shapes the results
  uint64_t fingerprint = 0;
  std::vector<RecordingProblem> problems;
  SweepResults sweep;    // for a sweep: this shard's points only
  SearchResults search;  // for a search: this shard's searches only
};

// The canonical configuration text of a run. `dataFingerprint` and
// `toleranceSamples` come from the run's recordings and options.
[[nodiscard]] std::string sweepConfig(const SweepResults& results, uint64_t dataFingerprint,
                                      int64_t toleranceSamples);
[[nodiscard]] std::string searchConfig(const SearchResults& results, uint64_t dataFingerprint,
                                       int64_t toleranceSamples);
[[nodiscard]] uint64_t fingerprintOf(const std::string& config);

[[nodiscard]] std::string formatPart(const Part& part);
// Reads a part; `origin` names it in errors. Returns an error message or "".
[[nodiscard]] std::string parsePart(const std::string& text, const std::string& origin, Part& part);

// Combines the parts of one run (all N shards, each once) into `merged`,
// whose results are those of the whole run. Returns an error or "".
[[nodiscard]] std::string mergeParts(const std::vector<Part>& parts,
                                     const std::vector<std::string>& origins, Part& merged);

}  // namespace tune
