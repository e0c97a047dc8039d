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

// The integer figures of one evaluation; every rate derives from them.
struct Counts {
  int64_t recordings = 0;
  int64_t unreadable = 0;
  int64_t truePositives = 0;
  int64_t missed = 0;
  int64_t earlyAlarms = 0;
  int64_t falseAlarms = 0;
  int64_t trueNegatives = 0;
  int64_t dailyLivingSamples = 0;
  int64_t dailyLivingAlarms = 0;

  [[nodiscard]] int64_t fallRecordings() const { return truePositives + missed + earlyAlarms; }
  [[nodiscard]] std::optional<double> sensitivity() const;
  [[nodiscard]] std::optional<double> falseAlarmsPerHour() const;
  Counts& operator+=(const Counts& other);
  bool operator==(const Counts&) const = default;
};

// The evaluation's summary of the counts (no delays or first codes).
[[nodiscard]] velmora::evaluation::EvalSummary summaryOf(const Counts& counts);
[[nodiscard]] Counts countsOf(const velmora::evaluation::EvalSummary& summary);

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

struct SearchConfig {
  std::vector<Dimension> space;
  DetectorSettings base{};
  double maxFalseAlarmsPerHour = 1.0;
  int64_t trials = 200;  // candidates, the base point included
};

struct Trial {
  Levels levels;
  Counts counts;  // on the search's own recordings
  bool feasible = false;
};

struct SearchOutcome {
  std::vector<Trial> trials;        // in the order of generation
  std::optional<std::size_t> best;  // the best feasible trial, if any
};

// Evaluates a batch of settings; returns one Counts per settings, in order.
using BatchEvaluator = std::function<std::vector<Counts>(const std::vector<DetectorSettings>&)>;

// True when `a` ranks before `b` among feasible trials: higher sensitivity,
// then fewer false alarms per hour, then earlier generation (`aOrder`,
// `bOrder`). Within one search every trial sees the same recordings, so
// the rates compare as their counts do.
[[nodiscard]] bool ranksBefore(const Counts& a, std::size_t aOrder, const Counts& b,
                               std::size_t bOrder);

// Runs one search. `seed` is the search's own seed (see streamSeed).
[[nodiscard]] SearchOutcome runSearch(const SearchConfig& config, uint64_t seed,
                                      const BatchEvaluator& evaluate);

}  // namespace tune
