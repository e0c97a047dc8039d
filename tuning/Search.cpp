#include "Search.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "EvalRender.h"
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

namespace {

// Order of the refinement's centres: feasible trials by rank; when there is
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

// Centres the refinement takes turns around: restarting from several good
// points instead of only the best keeps one lucky point from holding the
// whole budget.
constexpr std::size_t kCentres = 3;
// Levels tried across a setting's whole range in one coordinate move.
constexpr int64_t kLineLevels = 5;
// Settings one refinement round moves one at a time.
constexpr std::size_t kRoundSettings = 4;

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
    // The flat rule keeps a share of the budget for checking neighbours.
    const std::size_t checks = config_.rule.kind == Selection::Flat ? target / 4 : 0;
    const std::size_t explore = target - checks;
    // The base point first (each setting moved to the nearest level of its
    // range), then random points for 40 % of the budget, each the base with
    // a few settings drawn anew.
    std::vector<Levels> batch;
    Levels base;
    for (const Dimension& dimension : config_.space) {
      base.push_back(dimension.nearestLevel(config_.base.*(dimension.field->member)));
    }
    base_ = base;
    offer(base, batch);
    const std::size_t randomCount = std::max<std::size_t>(1, explore * 2 / 5);
    for (int misses = 0; batch.size() < randomCount && misses < kRedraws && !exhausted();) {
      misses = offer(randomLevels(), batch) ? 0 : misses + 1;
    }
    evaluate(batch);

    std::size_t round = 0;
    std::size_t stale = 0;
    while (outcome_.trials.size() < explore && !exhausted()) {
      const std::vector<std::size_t> centres = bestCentres(kCentres);
      const std::size_t centre = centres[round % centres.size()];
      ++round;
      const std::size_t bestBefore = centres.front();
      batch.clear();
      const std::size_t room = explore - outcome_.trials.size();
      const Levels from = outcome_.trials[centre].levels;
      // A few settings, each moved one radius either way and to levels
      // spread over its whole range (a coordinate move: a setting's best
      // value is often far from where the others put it).
      for (const std::size_t d : someSettings(kRoundSettings, kRoundSettings)) {
        std::vector<Levels> moves;
        for (const int64_t direction : {-1, 1}) {
          Levels moved = from;
          moved[d] = std::clamp<int64_t>(moved[d] + direction * radius_[d], 0,
                                         config_.space[d].levels() - 1);
          moves.push_back(moved);
        }
        const int64_t levels = config_.space[d].levels();
        const int64_t offset = static_cast<int64_t>(random_.below(static_cast<uint64_t>(levels)));
        for (int64_t k = 0; k < std::min(kLineLevels, levels); ++k) {
          Levels moved = from;
          moved[d] = (offset + k * levels / std::min(kLineLevels, levels)) % levels;
          moves.push_back(moved);
        }
        for (const Levels& moved : moves) {
          if (batch.size() < room) {
            offer(moved, batch);
          }
        }
      }
      // Moves of several settings at once find what single moves miss when
      // settings act together: one that finds more falls with one that
      // brings the alarms back within the budget.
      for (std::size_t k = 0, misses = 0; k < kRoundSettings && batch.size() < room &&
                                          misses < static_cast<std::size_t>(kRedraws);) {
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
      // No progress in a turn of every centre: look closer next time.
      stale = bestCentres(1).front() == bestBefore ? stale + 1 : 0;
      if (stale >= centres.size()) {
        stale = 0;
        for (int64_t& radius : radius_) {
          radius = std::max<int64_t>(1, radius / 2);
        }
      }
    }
    outcome_.best =
        rankedFeasible().empty() ? std::nullopt : std::optional<std::size_t>(rankedFeasible()[0]);
    if (checks > 0) {
      checkNeighbours(target);
    }
    return std::move(outcome_);
  }

 private:
  [[nodiscard]] bool exhausted() const { return static_cast<int64_t>(seen_.size()) >= gridPoints_; }

  // Between `least` and `most` distinct settings, chosen at random.
  std::vector<std::size_t> someSettings(std::size_t most, std::size_t least = 1) {
    const std::size_t top = std::min(most, config_.space.size());
    const std::size_t low = std::min(least, top);
    const std::size_t count = low + random_.below(top - low + 1);
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
    const std::size_t most =
        config_.maxMoved > 0
            ? std::min<std::size_t>(kMostChanged, static_cast<std::size_t>(config_.maxMoved))
            : kMostChanged;
    for (const std::size_t d : someSettings(most)) {
      levels[d] =
          static_cast<int64_t>(random_.below(static_cast<uint64_t>(config_.space[d].levels())));
    }
    return levels;
  }

  // Moves a few settings (two or three) at once by up to their radius
  // either way.
  Levels jointMove(const Levels& from) {
    Levels moved = from;
    for (const std::size_t d : someSettings(3, 2)) {
      const int64_t span = 2 * radius_[d] + 1;
      const int64_t step =
          static_cast<int64_t>(random_.below(static_cast<uint64_t>(span))) - radius_[d];
      moved[d] = std::clamp<int64_t>(moved[d] + step, 0, config_.space[d].levels() - 1);
    }
    return moved;
  }

  [[nodiscard]] int moved(const Levels& levels) const {
    int count = 0;
    for (std::size_t d = 0; d < levels.size(); ++d) {
      count += levels[d] != base_[d] ? 1 : 0;
    }
    return count;
  }

  // Adds `levels` to the batch unless it was tried, moves more settings
  // than allowed, or the detector would refuse it. Returns whether it was
  // added.
  bool offer(const Levels& levels, std::vector<Levels>& batch) {
    if (config_.maxMoved > 0 && moved(levels) > config_.maxMoved) {
      return false;
    }
    if (!seen_.insert(levels).second) {
      return false;
    }
    if (!VelmoraCheckSettings(applyLevels(config_.space, levels, config_.base)).empty()) {
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
      const std::vector<std::vector<OutcomeCounts>> people = evaluate_(settings);
      for (std::size_t i = start; i < end; ++i) {
        Trial trial{batch[i], {}, people[i - start], false};
        for (const OutcomeCounts& c : trial.people) {
          trial.counts += c;
        }
        trial.feasible = withinBudget(config_, trial.counts, trial.people);
        outcome_.trials.push_back(std::move(trial));
      }
    }
  }

  // The `count` best centres with distinct levels, best first.
  [[nodiscard]] std::vector<std::size_t> bestCentres(std::size_t count) const {
    std::vector<std::size_t> order(outcome_.trials.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      order[i] = i;
    }
    const std::size_t keep = std::min(count, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end(),
                      [&](std::size_t a, std::size_t b) {
                        return centreBefore(outcome_.trials[a], a, outcome_.trials[b], b);
                      });
    order.resize(keep);
    return order;
  }

  [[nodiscard]] std::vector<std::size_t> rankedFeasible() const {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < outcome_.trials.size(); ++i) {
      if (outcome_.trials[i].feasible) {
        order.push_back(i);
      }
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return ranksBefore(outcome_.trials[a].counts, a, outcome_.trials[b].counts, b);
    });
    return order;
  }

  // The flat rule: walks the feasible trials by rank and keeps the first
  // whose neighbours (each changed setting one radius up and down) keep the
  // budget too, a plateau rather than a spike that the training people's
  // accidents made. Neighbours count as trials; when the budget runs out
  // first, the trial with the fewest failing neighbours wins.
  void checkNeighbours(std::size_t target) {
    const std::vector<std::size_t> ranked = rankedFeasible();
    outcome_.best.reset();
    std::optional<std::size_t> fallback;
    std::size_t fallbackFailures = 0;
    for (const std::size_t candidate : ranked) {
      if (outcome_.trials.size() >= target) {
        break;
      }
      const Levels centre = outcome_.trials[candidate].levels;
      std::vector<Levels> neighbours;
      for (std::size_t d = 0; d < centre.size(); ++d) {
        if (centre[d] == base_[d]) {
          continue;
        }
        const int64_t step = std::max<int64_t>(1, config_.space[d].levels() / 10);
        for (const int64_t direction : {-1, 1}) {
          Levels moved = centre;
          moved[d] =
              std::clamp<int64_t>(moved[d] + direction * step, 0, config_.space[d].levels() - 1);
          if (moved != centre &&
              VelmoraCheckSettings(applyLevels(config_.space, moved, config_.base)).empty()) {
            neighbours.push_back(moved);
          }
        }
      }
      // Neighbours already tried are looked up, the others evaluated.
      std::vector<Levels> fresh;
      for (const Levels& levels : neighbours) {
        if (seen_.insert(levels).second) {
          fresh.push_back(levels);
        }
      }
      if (outcome_.trials.size() + fresh.size() > target) {
        break;
      }
      evaluate(fresh);
      std::size_t failures = 0;
      for (const Levels& levels : neighbours) {
        for (const Trial& trial : outcome_.trials) {
          if (trial.levels == levels) {
            failures += trial.feasible ? 0 : 1;
            break;
          }
        }
      }
      if (failures == 0) {
        outcome_.best = candidate;
        return;
      }
      if (!fallback || failures < fallbackFailures) {
        fallback = candidate;
        fallbackFailures = failures;
      }
    }
    outcome_.best = fallback
                        ? fallback
                        : (ranked.empty() ? std::nullopt : std::optional<std::size_t>(ranked[0]));
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

bool ranksBefore(const OutcomeCounts& a, std::size_t aOrder, const OutcomeCounts& b, std::size_t bOrder) {
  if (a.truePositives != b.truePositives) {
    return a.truePositives > b.truePositives;
  }
  if (a.dailyLivingAlarms != b.dailyLivingAlarms) {
    return a.dailyLivingAlarms < b.dailyLivingAlarms;
  }
  return aOrder < bOrder;
}

double poissonUpperBound(int64_t events, double exposure, double level) {
  // The rate whose chance of `events` or fewer is 1 - level, by bisection
  // on the Poisson distribution function (falling in the rate).
  const auto atMost = [events](double mean) {
    double term = -mean;  // log of the probability of 0 events
    double sum = std::exp(term);
    for (int64_t k = 1; k <= events; ++k) {
      term += std::log(mean) - std::log(static_cast<double>(k));
      sum += std::exp(term);
    }
    return sum;
  };
  const double target = 1.0 - level;
  double low = static_cast<double>(events);
  double high = static_cast<double>(events) + 10.0 + 10.0 * std::sqrt(static_cast<double>(events));
  while (atMost(high) > target) {
    high *= 2.0;
  }
  for (int i = 0; i < 100 && high - low > 1e-12 * high; ++i) {
    const double middle = 0.5 * (low + high);
    (atMost(middle) > target ? low : high) = middle;
  }
  return 0.5 * (low + high) / exposure;
}

bool withinBudget(const SearchConfig& config, const OutcomeCounts& counts,
                  const std::vector<OutcomeCounts>& people) {
  const std::optional<double> perHour = counts.falseAlarmsPerHour();
  const double budget = config.maxFalseAlarmsPerHour;
  if (!perHour || *perHour > budget || counts.fallRecordings() == 0) {
    return false;
  }
  switch (config.rule.kind) {
    case Selection::Training:
    case Selection::Flat:
      return true;
    case Selection::UpperBound:
      return poissonUpperBound(counts.dailyLivingAlarms, counts.dailyLivingHours(),
                               config.rule.level) <= budget;
    case Selection::People: {
      int64_t judged = 0;
      int64_t over = 0;
      for (const OutcomeCounts& person : people) {
        if (const auto rate = person.falseAlarmsPerHour()) {
          ++judged;
          over += *rate > budget ? 1 : 0;
        }
      }
      return static_cast<double>(over) <= config.rule.share * static_cast<double>(judged);
    }
  }
  return false;
}

std::string parseSelection(const std::string& text, SelectionRule& rule) {
  const auto colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const std::optional<std::string> parameter =
      colon == std::string::npos ? std::nullopt
                                 : std::optional<std::string>(text.substr(colon + 1));
  const auto number = [&](double low, double high, bool closedHigh) -> std::optional<double> {
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(parameter->data(), parameter->data() + parameter->size(), value);
    if (parameter->empty() || error != std::errc() ||
        end != parameter->data() + parameter->size() || !(value > low) ||
        !(closedHigh ? value <= high : value < high)) {
      return std::nullopt;
    }
    return value;
  };
  SelectionRule parsed;
  if (name == "train" && !parameter) {
    parsed.kind = Selection::Training;
  } else if (name == "flat" && !parameter) {
    parsed.kind = Selection::Flat;
  } else if (name == "bound") {
    parsed.kind = Selection::UpperBound;
    if (parameter) {
      const auto level = number(0.0, 1.0, false);
      if (!level) {
        return "--select: the level of bound:LEVEL lies between 0 and 1, not '" + *parameter + "'";
      }
      parsed.level = *level;
    }
  } else if (name == "people") {
    parsed.kind = Selection::People;
    if (parameter) {
      const auto share = number(-1e-300, 1.0, true);
      if (!share) {
        return "--select: the share of people:SHARE lies in 0..1, not '" + *parameter + "'";
      }
      parsed.share = *share;
    }
  } else {
    return "--select: expected train, bound[:LEVEL], people[:SHARE] or flat, not '" + text + "'";
  }
  rule = parsed;
  return {};
}

std::string selectionText(const SelectionRule& rule) {
  switch (rule.kind) {
    case Selection::Training:
      return "train";
    case Selection::Flat:
      return "flat";
    case Selection::UpperBound:
      return "bound:" + velmora::evaluation::doubleText(rule.level);
    case Selection::People:
      return "people:" + velmora::evaluation::doubleText(rule.share);
  }
  return "train";
}

SearchOutcome runSearch(const SearchConfig& config, uint64_t seed, const BatchEvaluator& evaluate) {
  return SearchRun(config, seed, evaluate).run();
}

}  // namespace tune
