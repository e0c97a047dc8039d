// The settings search: random sampling of the space followed by a local
// refinement around the best point so far. Deterministic for a given seed:
// candidates are generated in batches that depend only on the results of
// earlier batches, never on which evaluation finished first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "EvalSummary.h"
#include "TuneSpace.h"
#include "Velmora.h"

namespace tune {

using velmora::evaluation::EvalSummary;
using velmora::evaluation::OutcomeCounts;

// Splittable 64-bit generator (SplitMix64): the same numbers on every
// platform, unlike the standard distributions.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform in 0..bound-1 (bound > 0), by rejection, so without bias.
  uint64_t below(uint64_t bound);

 private:
  uint64_t state_;
};

// A seed of its own for each of the searches of one run.
[[nodiscard]] uint64_t streamSeed(uint64_t seed, uint64_t stream);

// How a search decides that a candidate keeps the false-alarm budget on
// its own (training) people, hoping it keeps it on new people too.
enum class Selection {
  Training,    // the training rate is within the budget
  UpperBound,  // so is the upper confidence bound (at `level`) of that rate
  People,      // the training rate, and at most a share of the people above it
  Flat,        // the training rate, at the candidate and at its neighbours
};

struct SelectionRule {
  Selection kind = Selection::Training;
  double level = 0.8;  // UpperBound: one-sided confidence level, in (0, 1)
  double share = 0.2;  // People: share of the training people allowed above
};

// Parses "train", "bound[:LEVEL]", "people[:SHARE]" or "flat". Returns an
// error message or "".
[[nodiscard]] std::string parseSelection(const std::string& text, SelectionRule& rule);
// The rule as parseSelection reads it, every parameter written out.
[[nodiscard]] std::string selectionText(const SelectionRule& rule);

struct SearchConfig {
  std::vector<Dimension> space;
  DetectorSettings base{};
  double maxFalseAlarmsPerHour = 1.0;
  // The defaults are the procedure that held the budget best on people the
  // search never saw (docs/velmora-tune.md, "Which selection holds the
  // budget"): few candidates, few settings moved.
  int64_t trials = 100;  // candidates, the base point included
  SelectionRule rule;
  // Settings a candidate may change from the base, at most (0: any number).
  int maxMoved = 2;
};

struct Trial {
  Levels levels;
  OutcomeCounts counts;  // on the search's own recordings
  // Per training group (person), when the evaluator gave them; part files
  // do not keep them.
  std::vector<OutcomeCounts> people;
  bool feasible = false;
};

struct SearchOutcome {
  std::vector<Trial> trials;        // in the order of generation
  std::optional<std::size_t> best;  // the best feasible trial, if any
};

// Evaluates a batch of settings; returns, per settings in order, one
// OutcomeCounts per training group (person), always in the same group order.
using BatchEvaluator =
    std::function<std::vector<std::vector<OutcomeCounts>>(const std::vector<DetectorSettings>&)>;

// Whether figures keep the budget under `config`'s rule (its Flat rule
// judges the point alone here). `people` may be empty for the rules that
// do not need it.
[[nodiscard]] bool withinBudget(const SearchConfig& config, const OutcomeCounts& counts,
                                const std::vector<OutcomeCounts>& people);

// The one-sided upper confidence bound at `level` of a Poisson rate with
// `events` seen in `exposure` (> 0).
[[nodiscard]] double poissonUpperBound(int64_t events, double exposure, double level);

// True when `a` ranks before `b` among feasible trials: higher sensitivity,
// then fewer false alarms per hour, then earlier generation (`aOrder`,
// `bOrder`). Within one search every trial sees the same recordings, so
// the rates compare as their counts do.
[[nodiscard]] bool ranksBefore(const OutcomeCounts& a, std::size_t aOrder, const OutcomeCounts& b,
                               std::size_t bOrder);

// Runs one search. `seed` is the search's own seed (see streamSeed).
[[nodiscard]] SearchOutcome runSearch(const SearchConfig& config, uint64_t seed,
                                      const BatchEvaluator& evaluate);

}  // namespace tune
