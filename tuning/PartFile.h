// Part files: the results of one shard of a sweep or search, in a text
// format that `velmora-tune merge` combines into the outputs of one
// unsharded run. Each part names the run it belongs to by a fingerprint
// of the data, the settings, the space and the seed; parts of different
// runs refuse to merge. The first line names the format's version; a part
// of another version is refused, never guessed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RecordingCache.h"
#include "TuneResults.h"

namespace tune {

// The version a part file's first line states ("velmora-tune part 3").
// Raise it whenever the format changes: parts written before are then
// refused with a message that says so.
inline constexpr int kPartFormatVersion = 3;

// Shards a run can be dealt into: --shard and the part reader share it.
inline constexpr int kMaxShards = 1'000'000;

// The largest count a part file may state (recordings or samples), far
// beyond any real run; it keeps every sum of counts within 64 bits.
inline constexpr int64_t kMaxPartCount = int64_t{1} << 50;

enum class RunKind { Sweep, Search };

// The recordings of the run as a whole, whatever the settings: every count
// of the part is checked against them.
struct RunTotals {
  int64_t recordings = 0;  // unreadable ones included
  int64_t unreadable = 0;
  int64_t fallRecordings = 0;
  int64_t dailyLivingRecordings = 0;
  int64_t dailyLivingSamples = 0;

  bool operator==(const RunTotals&) const = default;
};

struct Shard {
  int index = 1;  // 1..count
  int count = 1;
};

// Parses "K/N" with 1 <= K <= N <= kMaxShards. Returns an error message or "".
[[nodiscard]] std::string parseShard(const std::string& text, Shard& shard);

struct Part {
  RunKind kind = RunKind::Sweep;
  Shard shard;
  std::string command;  // the command line, without the shard options
  std::string config;   // canonical text of every choice that shapes the results
  uint64_t fingerprint = 0;
  RunTotals totals;
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
[[nodiscard]] RunTotals runTotals(const RecordingCache& cache);

[[nodiscard]] std::string formatPart(const Part& part);
// Reads a part; `origin` names it in errors. Returns an error message or "".
// Counts that cannot be (out of range, not adding up among themselves or to
// the run's totals) are refused with the line that states them.
[[nodiscard]] std::string parsePart(const std::string& text, const std::string& origin, Part& part);

// Combines the parts of one run (all N shards, each once) into `merged`,
// whose results are those of the whole run. Returns an error or "".
[[nodiscard]] std::string mergeParts(const std::vector<Part>& parts,
                                     const std::vector<std::string>& origins, Part& merged);

}  // namespace tune
