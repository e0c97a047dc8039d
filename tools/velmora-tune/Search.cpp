#include "Search.h"

#include <algorithm>
#include <set>

#include "EvalSummary.h"
#include "SettingsTable.h"

namespace tune {

using velmora::evaluation::EvalSummary;

namespace {

// Candidates evaluated at once: bounds the memory of a batch's outcomes.
constexpr std::size_t kBatchSize = 64;
// Redraws of a candidate that was already tried before giving up on it.
constexpr int kRedraws = 64;
// Settings a random point changes from the base, at most.
constexpr std::size_t kMostChanged = 4;

}  // namespace

EvalSummary summaryOf(const Counts& counts) {
  EvalSummary summary;
  summary.recordings = counts.recordings;
  summary.unreadable = counts.unreadable;
  summary.truePositives = counts.truePositives;
  summary.missed = counts.missed;
  summary.earlyAlarms = counts.earlyAlarms;
  summary.falseAlarms = counts.falseAlarms;
  summary.trueNegatives = counts.trueNegatives;
  summary.dailyLivingSamples = counts.dailyLivingSamples;
  summary.dailyLivingAlarms = counts.dailyLivingAlarms;
  return summary;
}

namespace {

bool isFeasible(const Counts& counts, double maxPerHour) {
  const std::optional<double> perHour = counts.falseAlarmsPerHour();
  return perHour && *perHour <= maxPerHour && counts.fallRecordings() > 0;
}

// Order of the refinement's centre: feasible trials by rank; when there is
// none yet, the one closest to feasibility (fewest alarms, then most true
// positives, then earliest).
bool centreBefore(const Trial& a, std::size_t aOrder, const Trial& b, std::size_t bOrder) {
  if (a.feasible != b.feasible) {
    return a.feasible;
  }
  if (a.feasible) {
    return ranksBefore(a.counts, aOrder, b.counts, bOrder);
  }
  if (a.counts.dailyLivingAlarms != b.counts.dailyLivingAlarms) {
    return a.counts.dailyLivingAlarms < b.counts.dailyLivingAlarms;
  }
  if (a.counts.truePositives != b.counts.truePositives) {
    return a.counts.truePositives > b.counts.truePositives;
  }
  return aOrder < bOrder;
}

class SearchRun {
 public:
  SearchRun(const SearchConfig& config, uint64_t seed, const BatchEvaluator& evaluate)
      : config_(config), random_(seed), evaluate_(evaluate) {
    gridPoints_ = gridSize(config_.space);
    for (const Dimension& dimension : config_.space) {
      radius_.push_back(std::max<int64_t>(1, dimension.levels() / 8));
    }
  }

  SearchOutcome run() {
    const auto target = static_cast<std::size_t>(std::max<int64_t>(config_.trials, 1));
    // The base point first (each setting moved to the nearest level of its
    // range), then random points for half of the budget, each the base with
    // a few settings drawn anew.
    std::vector<Levels> batch;
    Levels base;
    for (const Dimension& dimension : config_.space) {
      base.push_back(dimension.nearestLevel(config_.base.*(dimension.field->member)));
    }
    offer(base, batch);
    base_ = base;
    const std::size_t randomCount = target - target / 2;
    for (int misses = 0; batch.size() < randomCount && misses < kRedraws && !exhausted();) {
      misses = offer(randomLevels(), batch) ? 0 : misses + 1;
    }
    evaluate(batch);

    while (outcome_.trials.size() < target && !exhausted()) {
      const std::size_t centre = bestCentre();
      batch.clear();
      const std::size_t room = target - outcome_.trials.size();
      const Levels& from = outcome_.trials[centre].levels;
      for (std::size_t d = 0; d < config_.space.size() && batch.size() < room; ++d) {
        for (const int64_t direction : {-1, 1}) {
          Levels moved = from;
          moved[d] = std::clamp<int64_t>(moved[d] + direction * radius_[d], 0,
                                         config_.space[d].levels() - 1);
          if (batch.size() < room) {
            offer(moved, batch);
          }
        }
      }
      // Moves of several settings at once find what single moves miss when
      // settings act together.
      const std::size_t joint = std::max<std::size_t>(4, config_.space.size());
      for (std::size_t k = 0, misses = 0; k < joint && batch.size() < room && misses < kRedraws;) {
        if (offer(jointMove(from), batch)) {
          ++k;
        } else {
          ++misses;
        }
      }
      if (batch.empty()) {
        // Nothing new near the centre: look elsewhere.
        for (int misses = 0;
             batch.size() < std::min(room, kBatchSize) && misses < kRedraws && !exhausted();) {
          misses = offer(randomLevels(), batch) ? 0 : misses + 1;
        }
        if (batch.empty()) {
          break;
        }
      }
      evaluate(batch);
      // No progress: look closer next time.
      if (bestCentre() == centre) {
        for (int64_t& radius : radius_) {
          radius = std::max<int64_t>(1, radius / 2);
        }
      }
    }
    for (std::size_t i = 0; i < outcome_.trials.size(); ++i) {
      const Trial& trial = outcome_.trials[i];
      if (trial.feasible &&
          (!outcome_.best ||
           ranksBefore(trial.counts, i, outcome_.trials[*outcome_.best].counts, *outcome_.best))) {
        outcome_.best = i;
      }
    }
    return std::move(outcome_);
  }

 private:
  [[nodiscard]] bool exhausted() const { return static_cast<int64_t>(seen_.size()) >= gridPoints_; }

  // Up to `most` distinct settings, chosen at random.
  std::vector<std::size_t> someSettings(std::size_t most) {
    const std::size_t count = 1 + random_.below(std::min(most, config_.space.size()));
    std::vector<std::size_t> chosen;
    while (chosen.size() < count) {
      const auto d = static_cast<std::size_t>(random_.below(config_.space.size()));
      if (std::find(chosen.begin(), chosen.end(), d) == chosen.end()) {
        chosen.push_back(d);
      }
    }
    return chosen;
  }

  // The base point with a few settings drawn anew from their whole range.
  // Points that change few settings fit the training people's accidents
  // less than points that change them all, so they hold up better on new
  // people.
  Levels randomLevels() {
    Levels levels = base_;
    for (const std::size_t d : someSettings(kMostChanged)) {
      levels[d] =
          static_cast<int64_t>(random_.below(static_cast<uint64_t>(config_.space[d].levels())));
    }
    return levels;
  }

  // Moves a few settings (two or three) at once by up to their radius
  // either way.
  Levels jointMove(const Levels& from) {
    Levels moved = from;
    for (const std::size_t d : someSettings(3)) {
      const int64_t span = 2 * radius_[d] + 1;
      const int64_t step =
          static_cast<int64_t>(random_.below(static_cast<uint64_t>(span))) - radius_[d];
      moved[d] = std::clamp<int64_t>(moved[d] + step, 0, config_.space[d].levels() - 1);
    }
    return moved;
  }

  // Adds `levels` to the batch unless it was tried or the detector would
  // refuse it. Returns whether it was added.
  bool offer(const Levels& levels, std::vector<Levels>& batch) {
    if (!seen_.insert(levels).second) {
      return false;
    }
    if (!validateSettings(applyLevels(config_.space, levels, config_.base)).empty()) {
      return false;
    }
    batch.push_back(levels);
    return true;
  }

  void evaluate(const std::vector<Levels>& batch) {
    for (std::size_t start = 0; start < batch.size(); start += kBatchSize) {
      const std::size_t end = std::min(batch.size(), start + kBatchSize);
      std::vector<DetectorSettings> settings;
      for (std::size_t i = start; i < end; ++i) {
        settings.push_back(applyLevels(config_.space, batch[i], config_.base));
      }
      const std::vector<Counts> counts = evaluate_(settings);
      for (std::size_t i = start; i < end; ++i) {
        const Counts& result = counts[i - start];
        outcome_.trials.push_back(
            Trial{batch[i], result, isFeasible(result, config_.maxFalseAlarmsPerHour)});
      }
    }
  }

  [[nodiscard]] std::size_t bestCentre() const {
    std::size_t best = 0;
    for (std::size_t i = 1; i < outcome_.trials.size(); ++i) {
      if (centreBefore(outcome_.trials[i], i, outcome_.trials[best], best)) {
        best = i;
      }
    }
    return best;
  }

  const SearchConfig& config_;
  SplitMix64 random_;
  const BatchEvaluator& evaluate_;
  SearchOutcome outcome_;
  std::set<Levels> seen_;
  std::vector<int64_t> radius_;
  Levels base_;
  int64_t gridPoints_ = 1;
};

}  // namespace

Counts countsOf(const EvalSummary& summary) {
  Counts counts;
  counts.recordings = summary.recordings;
  counts.unreadable = summary.unreadable;
  counts.truePositives = summary.truePositives;
  counts.missed = summary.missed;
  counts.earlyAlarms = summary.earlyAlarms;
  counts.falseAlarms = summary.falseAlarms;
  counts.trueNegatives = summary.trueNegatives;
  counts.dailyLivingSamples = summary.dailyLivingSamples;
  counts.dailyLivingAlarms = summary.dailyLivingAlarms;
  return counts;
}

std::optional<double> Counts::sensitivity() const { return summaryOf(*this).sensitivity(); }

std::optional<double> Counts::falseAlarmsPerHour() const {
  return summaryOf(*this).falseAlarmsPerHour();
}

Counts& Counts::operator+=(const Counts& other) {
  recordings += other.recordings;
  unreadable += other.unreadable;
  truePositives += other.truePositives;
  missed += other.missed;
  earlyAlarms += other.earlyAlarms;
  falseAlarms += other.falseAlarms;
  trueNegatives += other.trueNegatives;
  dailyLivingSamples += other.dailyLivingSamples;
  dailyLivingAlarms += other.dailyLivingAlarms;
  return *this;
}

uint64_t SplitMix64::next() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint64_t SplitMix64::below(uint64_t bound) {
  // Values at or above the largest multiple of `bound` would favour the
  // low remainders; draw again instead.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t value = next();
  while (value >= limit) {
    value = next();
  }
  return value % bound;
}

uint64_t streamSeed(uint64_t seed, uint64_t stream) {
  SplitMix64 mixer(seed ^ (stream * 0xd1b54a32d192ed03ULL));
  return mixer.next();
}

bool ranksBefore(const Counts& a, std::size_t aOrder, const Counts& b, std::size_t bOrder) {
  if (a.truePositives != b.truePositives) {
    return a.truePositives > b.truePositives;
  }
  if (a.dailyLivingAlarms != b.dailyLivingAlarms) {
    return a.dailyLivingAlarms < b.dailyLivingAlarms;
  }
  return aOrder < bOrder;
}

SearchOutcome runSearch(const SearchConfig& config, uint64_t seed, const BatchEvaluator& evaluate) {
  return SearchRun(config, seed, evaluate).run();
}

}  // namespace tune
