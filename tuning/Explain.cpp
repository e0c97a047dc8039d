#include "Explain.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "Evaluation.h"
#include "VelmoraObservation.h"

namespace tune {

using velmora::evaluation::DetectionTally;
using velmora::evaluation::RecordingResult;

namespace {

// ------------------------------------------------------------ threshold settings
//
// A threshold setting meets one per-sample quantity in comparisons and is
// read nowhere else. Every such comparison flips at one value of the
// setting, its breakpoint: `impactMin < rawAccMag` holds for impactMin
// below rawAccMag and fails from rawAccMag on, so rawAccMag is the
// breakpoint. Two values v1 < v2 with no breakpoint of any sample in
// (v1, v2] make every comparison come out the same on every sample, so by
// induction over the samples the detector's state and codes are identical
// under both. The quantities are the measurement's own values (which no
// setting changes) or, for postPeakMin, the peak it is compared with,
// which is always 0 or some sample's rawAccMag.
enum class Quantity { RawAccMag, RawGyroMag, Roll, NegatedRoll, Pitch, GyroAvg, RawAccSum3 };

struct BreakpointRule {
  Quantity quantity;
  int32_t offset;  // breakpoint = quantity + offset
};

struct ThresholdSetting {
  const char* name;
  BreakpointRule rules[2];
  int ruleCount;
  bool zeroQuantityToo;  // the compared value may also be 0
};

// clang-format off
constexpr ThresholdSetting kThresholdSettings[] = {
  {"impactMin",       {{Quantity::RawAccMag, 0}, {}}, 1, false},   // impactMin < rawAccMag
  {"impactMax",       {{Quantity::RawAccMag, 1}, {}}, 1, false},   // rawAccMag < impactMax
  {"gyroAvgHigh",     {{Quantity::GyroAvg, 1}, {}}, 1, false},     // gyroAvg < gyroAvgHigh
  {"rollLimit",       {{Quantity::Roll, 1}, {Quantity::NegatedRoll, 1}}, 2, false},  // -L < roll < L
  {"pitchUprightMin", {{Quantity::Pitch, 0}, {}}, 1, false},       // pitchUprightMin < pitch
  {"pitchImpactMin",  {{Quantity::Pitch, 0}, {}}, 1, false},       // pitchImpactMin < pitch
  {"pitchMax",        {{Quantity::Pitch, 1}, {}}, 1, false},       // pitch < pitchMax
  {"stillEnterLevel", {{Quantity::RawAccMag, 0}, {}}, 1, false},   // rawAccMag <= level
  {"stillExitLevel",  {{Quantity::RawAccMag, 0}, {}}, 1, false},   // rawAccMag > level
  {"turnAccLevel",    {{Quantity::RawAccMag, 0}, {}}, 1, false},   // rawAccMag > level
  {"turnGyroLevel",   {{Quantity::RawGyroMag, 0}, {}}, 1, false},  // rawGyroMag > level
  {"burstHigh",       {{Quantity::RawAccSum3, 1}, {}}, 1, false},  // rawAccSum3 >= burstHigh
  {"burstLow",        {{Quantity::RawAccSum3, 1}, {}}, 1, false},  // rawAccSum3 >= burstLow
  {"postPeakMin",     {{Quantity::RawAccMag, 1}, {}}, 1, true},    // postPeak >= postPeakMin
};
// clang-format on

const ThresholdSetting* findThreshold(const char* name) {
  for (const ThresholdSetting& setting : kThresholdSettings) {
    if (std::strcmp(setting.name, name) == 0) {
      return &setting;
    }
  }
  return nullptr;
}

// The per-sample quantities the breakpoints need, from one observed replay.
struct SampleQuantities {
  std::vector<int32_t> gyroAvg;
  std::vector<int32_t> rawAccSum3;
};

int64_t quantityOf(Quantity quantity, const SampleMeasurement& m, const SampleQuantities& q,
                   std::size_t i) {
  switch (quantity) {
    case Quantity::RawAccMag:
      return m.rawAccMag;
    case Quantity::RawGyroMag:
      return m.rawGyroMag;
    case Quantity::Roll:
      return m.roll;
    case Quantity::NegatedRoll:
      return -int64_t{m.roll};
    case Quantity::Pitch:
      return m.pitch;
    case Quantity::GyroAvg:
      return q.gyroAvg[i];
    case Quantity::RawAccSum3:
      return q.rawAccSum3[i];
  }
  return 0;
}

// The values of one setting that one recording can tell apart: a value
// starts a new class where it is a breakpoint. Covers the range and the
// base value; a setting without a threshold rule has every value a class
// of its own.
class ValueClasses {
 public:
  ValueClasses(int32_t low, int32_t high) : low_(low), high_(high) {}

  void markAll() { every_ = true; }
  void mark(int64_t breakpoint) {
    if (breakpoint > low_ && breakpoint <= high_) {
      if (starts_.empty()) {
        starts_.assign(static_cast<std::size_t>(int64_t{high_} - low_ + 1), 0);
      }
      starts_[static_cast<std::size_t>(breakpoint - low_)] = 1;
    }
  }
  // No breakpoint in (min(a, b), max(a, b)].
  [[nodiscard]] bool same(int32_t a, int32_t b) const {
    if (a == b) {
      return true;
    }
    if (every_) {
      return false;
    }
    if (starts_.empty()) {
      return true;
    }
    const int64_t from = std::min(a, b);
    const int64_t to = std::max(a, b);
    for (int64_t v = from + 1; v <= to; ++v) {
      if (starts_[static_cast<std::size_t>(v - low_)] != 0) {
        return false;
      }
    }
    return true;
  }
  // The lowest value above `value` in another class, or empty.
  [[nodiscard]] std::optional<int32_t> nextAbove(int32_t value) const {
    if (value >= high_) {
      return std::nullopt;
    }
    if (every_) {
      return value + 1;
    }
    for (int64_t v = int64_t{value} + 1; v <= high_ && !starts_.empty(); ++v) {
      if (starts_[static_cast<std::size_t>(v - low_)] != 0) {
        return static_cast<int32_t>(v);
      }
    }
    return std::nullopt;
  }
  // The highest value below `value` in another class, or empty.
  [[nodiscard]] std::optional<int32_t> nextBelow(int32_t value) const {
    if (value <= low_) {
      return std::nullopt;
    }
    if (every_) {
      return value - 1;
    }
    for (int64_t v = value; v > low_ && !starts_.empty(); --v) {
      if (starts_[static_cast<std::size_t>(v - low_)] != 0) {
        return static_cast<int32_t>(v - 1);
      }
    }
    return std::nullopt;
  }
  // A key of the class of `value` (its lowest value).
  [[nodiscard]] int32_t classKey(int32_t value) const {
    if (every_ || starts_.empty()) {
      return every_ ? value : low_;
    }
    for (int64_t v = value; v > low_; --v) {
      if (starts_[static_cast<std::size_t>(v - low_)] != 0) {
        return static_cast<int32_t>(v);
      }
    }
    return low_;
  }

 private:
  int32_t low_;
  int32_t high_;
  bool every_ = false;
  std::vector<char> starts_;  // indexed by value - low_
};

// What a candidate value needs to know of each dimension.
struct DimensionPlan {
  int32_t base = 0;
  int32_t low = 0;  // covers the space's range and the base value
  int32_t high = 0;
  const ThresholdSetting* threshold = nullptr;  // null: every value is run
  std::vector<char> accepted;                   // by value - low (range values only)

  [[nodiscard]] bool acceptedValue(int32_t value) const {
    return value >= low && value <= high && accepted[static_cast<std::size_t>(value - low)] != 0;
  }
};

std::vector<DimensionPlan> planDimensions(const std::vector<Dimension>& space,
                                          const DetectorSettings& base, bool everyValue) {
  std::vector<DimensionPlan> plans;
  for (const Dimension& dimension : space) {
    DimensionPlan plan;
    plan.base = base.*dimension.field->member;
    plan.low = std::min(dimension.low, plan.base);
    plan.high = std::max(dimension.high, plan.base);
    plan.accepted.assign(static_cast<std::size_t>(int64_t{plan.high} - plan.low + 1), 0);
    bool everyAccepted = true;
    for (int64_t v = dimension.low; v <= dimension.high; ++v) {
      DetectorSettings settings = base;
      settings.*dimension.field->member = static_cast<int32_t>(v);
      const bool ok = VelmoraCheckSettings(settings).empty();
      plan.accepted[static_cast<std::size_t>(v - plan.low)] = ok ? 1 : 0;
      everyAccepted = everyAccepted && ok;
    }
    // Classes are only used where every value of the range runs: a class
    // then holds no refused value that the nearest accepted one would skip.
    plan.threshold = everyAccepted && !everyValue ? findThreshold(dimension.name()) : nullptr;
    plans.push_back(std::move(plan));
  }
  return plans;
}

ValueClasses classesFor(const DimensionPlan& plan, const CachedRecording& recording,
                        const SampleQuantities& quantities) {
  ValueClasses classes(plan.low, plan.high);
  if (plan.threshold == nullptr) {
    classes.markAll();
    return classes;
  }
  const ThresholdSetting& rule = *plan.threshold;
  for (std::size_t i = 0; i < recording.measurements.size(); ++i) {
    for (int r = 0; r < rule.ruleCount; ++r) {
      classes.mark(quantityOf(rule.rules[r].quantity, recording.measurements[i], quantities, i) +
                   rule.rules[r].offset);
    }
  }
  if (rule.zeroQuantityToo) {
    classes.mark(rule.rules[0].offset);
  }
  return classes;
}

// ------------------------------------------------------------------ replays

struct RunResult {
  std::optional<int64_t> firstIndex;
  int32_t firstCode = 0;
  int64_t alarms = 0;
};

// Runs the settings-dependent step, stopping at the first positive sample
// when `untilFirst`. Adds the samples run to `work`.
RunResult runCached(const CachedRecording& recording, const DetectorSettings& settings,
                    bool untilFirst, int64_t& work) {
  RunResult result;
  thread_local const auto context = std::make_unique<DetectorContext>();
  if (!recording.loaded.readable() || VelmoraSet(context.get(), &settings) < 0) {
    return result;
  }
  bool previous = false;
  const std::vector<SampleMeasurement>& measurements = recording.measurements;
  std::size_t i = 0;
  for (; i < measurements.size(); ++i) {
    const int32_t code = VelmoraDecide(context.get(), &measurements[i]);
    const bool positive = code > 0;
    if (positive && !previous) {
      ++result.alarms;
      if (!result.firstIndex) {
        result.firstIndex = recording.loaded.positionOf(i);
        result.firstCode = code;
        if (untilFirst) {
          ++i;
          break;
        }
      }
    }
    previous = positive;
  }
  VelmoraClose(context.get());
  work += static_cast<int64_t>(i);
  return result;
}

Outcome outcomeOf(const CachedRecording& recording, const RunResult& run, int64_t tolerance) {
  return velmora::evaluation::classifyOutcome(recording.loaded.isFall, run.firstIndex,
                                              recording.loaded.fallPosition, tolerance);
}

bool isRight(Outcome outcome) {
  return outcome == Outcome::TruePositive || outcome == Outcome::TrueNegative;
}

// The base run with the quantities the breakpoints need.
RecordingResult observeBase(const CachedRecording& recording, const DetectorSettings& settings,
                            int64_t tolerance, SampleQuantities& quantities) {
  DetectionTally tally;
  const std::size_t n = recording.measurements.size();
  quantities.gyroAvg.assign(n, 0);
  quantities.rawAccSum3.assign(n, 0);
  if (recording.loaded.readable()) {
    thread_local const auto context = std::make_unique<DetectorContext>();
    if (VelmoraSet(context.get(), &settings) == 0) {
      VelmoraObservation observation{};
      for (std::size_t i = 0; i < n; ++i) {
        const int32_t code =
            VelmoraDecideObserved(context.get(), &recording.measurements[i], &observation);
        quantities.gyroAvg[i] = observation.gyroAvg;
        quantities.rawAccSum3[i] = observation.rawAccSum3;
        tally.add(recording.loaded.positionOf(i), code);
      }
      VelmoraClose(context.get());
    }
  }
  return velmora::evaluation::judgeRecording(recording.loaded, tally, tolerance);
}

// The nearest value on one side that makes the recording right.
std::optional<int32_t> nearestFix(const CachedRecording& recording, const DetectorSettings& base,
                                  const Dimension& dimension, const DimensionPlan& plan,
                                  const ValueClasses& classes, Side side, int64_t tolerance,
                                  int64_t& work) {
  const auto tryValue = [&](int32_t value) {
    if (!plan.acceptedValue(value) || value < dimension.low || value > dimension.high ||
        classes.same(value, plan.base)) {
      return false;  // refused, outside the range, or behaving as the (wrong) base
    }
    DetectorSettings settings = base;
    settings.*dimension.field->member = value;
    return isRight(outcomeOf(recording, runCached(recording, settings, true, work), tolerance));
  };
  if (side == Side::Up) {
    std::optional<int32_t> value = plan.base < dimension.low ? std::optional<int32_t>(dimension.low)
                                                             : classes.nextAbove(plan.base);
    for (; value && *value <= dimension.high; value = classes.nextAbove(*value)) {
      if (*value > plan.base && tryValue(*value)) {
        return value;
      }
    }
    return std::nullopt;
  }
  std::optional<int32_t> value = plan.base > dimension.high ? std::optional<int32_t>(dimension.high)
                                                            : classes.nextBelow(plan.base);
  for (; value && *value >= dimension.low; value = classes.nextBelow(*value)) {
    if (*value < plan.base && tryValue(*value)) {
      return value;
    }
  }
  return std::nullopt;
}

struct Effect {
  Outcome outcome = Outcome::Unreadable;
  int64_t alarms = 0;
};

}  // namespace

// ------------------------------------------------------------------ causes

namespace {

struct CauseInfo {
  Cause cause;
  const char* key;
  const char* words;       // of a missed fall
  const char* alarmWords;  // of an early or false alarm
  const char* settings;    // space-separated
};

// clang-format off
constexpr CauseInfo kCauses[kCauseCount] = {
  {Cause::ShallowLow, "shallow_low", "acceleration not low enough", "acceleration low enough", "lowLevel"},
  {Cause::ShortLowRun, "short_low_run", "low run too short", "low run long enough", "avgWindow"},
  {Cause::RawRun, "raw_run", "raw low run cut short", "raw low run long enough", "stillEnterLevel stillExitLevel stillAvgMax minEventRun"},
  {Cause::JumpWindow, "jump_window", "low phase inside the jump window", "low phase outside any jump window", "impactMin impactMax pitchImpactMin maxJumpSpan"},
  {Cause::WeakImpact, "weak_impact", "impact below the burst level", "impact above the burst level", "burstHigh burstLow"},
  {Cause::BurstTiming, "burst_timing", "no low run just before the impact", "a low run just before the impact", "burstHighWindow burstHighMinLen burstLowWindow burstLowMinLen"},
  {Cause::Upright, "upright", "upright again too soon", "not upright again soon enough", "uprightLag uprightDeltaMax rollLimit pitchUprightMin pitchMax"},
  {Cause::Rotation, "rotation", "turning fall not recognised", "turning taken for a fall", "gyroAvgLow gyroAvgHigh accAvgLimit"},
  {Cause::Tumbling, "tumbling", "tumbling too short", "tumbling long enough", "turnAccLevel turnGyroLevel turnRunMin"},
  {Cause::TwoDrops, "two_drops", "drop, hit, drop incomplete", "drop, hit, drop matched", "lowEventMinLen lowRunMin lowTotalMin gapMin gapMax postPeakMin"},
  {Cause::NoSingleSetting, "no_single_setting", "no single setting catches it", "no single setting silences it", ""},
};
// clang-format on

}  // namespace

const char* causeKey(Cause cause) { return kCauses[static_cast<std::size_t>(cause)].key; }
const char* causeWords(Cause cause) { return kCauses[static_cast<std::size_t>(cause)].words; }
const char* causeAlarmWords(Cause cause) {
  return kCauses[static_cast<std::size_t>(cause)].alarmWords;
}
const char* causeSettings(Cause cause) { return kCauses[static_cast<std::size_t>(cause)].settings; }

Cause causeOfSetting(const char* settingName) {
  const std::string name = settingName;
  for (const CauseInfo& info : kCauses) {
    const std::string list = std::string(" ") + info.settings + " ";
    if (list.find(" " + name + " ") != std::string::npos) {
      return info.cause;
    }
  }
  return Cause::NoSingleSetting;
}

std::vector<int32_t> behaviourClasses(const CachedRecording& recording, const ExplainConfig& config,
                                      std::size_t dimension) {
  const std::vector<DimensionPlan> plans = planDimensions(config.space, config.base, false);
  SampleQuantities quantities;
  (void)observeBase(recording, config.base, config.toleranceSamples, quantities);
  const ValueClasses classes = classesFor(plans[dimension], recording, quantities);
  std::vector<int32_t> keys;
  for (int64_t v = config.space[dimension].low; v <= config.space[dimension].high; ++v) {
    keys.push_back(classes.classKey(static_cast<int32_t>(v)));
  }
  return keys;
}

const char* sideName(Side side) { return side == Side::Up ? "up" : "down"; }

const FixCost* findCost(const Explanation& explanation, std::size_t dimension, int32_t value) {
  const auto it = std::lower_bound(
      explanation.costs.begin(), explanation.costs.end(), std::make_pair(dimension, value),
      [](const FixCost& cost, const std::pair<std::size_t, int32_t>& key) {
        return std::make_pair(cost.dimension, cost.value) < key;
      });
  if (it == explanation.costs.end() || it->dimension != dimension || it->value != value) {
    return nullptr;
  }
  return &*it;
}

std::string fixCondition(const Explanation& explanation, const RecordingFix& fix) {
  return std::string(explanation.space[fix.dimension].name()) +
         (fix.side == Side::Up ? " \u2265 " : " \u2264 ") + std::to_string(fix.value);
}

// ------------------------------------------------------------------ the run

Explanation explainRecordings(const RecordingCache& cache, const ExplainConfig& config) {
  Explanation explanation;
  explanation.space = config.space;
  explanation.base = config.base;
  explanation.toleranceSamples = config.toleranceSamples;
  const std::vector<DimensionPlan> plans =
      planDimensions(config.space, config.base, config.everyValue);
  const std::size_t count = cache.recordings.size();
  const int64_t tolerance = config.toleranceSamples;

  // Base results, and the fixes of every wrong recording.
  explanation.results.resize(count);
  std::vector<std::vector<RecordingFix>> fixes(count);
  std::vector<Sight> sights(count);
  std::vector<int64_t> work(count, 0);
  velmora::evaluation::parallelFor(
      count, config.jobs,
      [&](std::size_t r) {
        const CachedRecording& recording = cache.recordings[r];
        SampleQuantities quantities;
        explanation.results[r] = observeBase(recording, config.base, tolerance, quantities);
        const Outcome outcome = explanation.results[r].outcome;
        if (outcome == Outcome::Unreadable || isRight(outcome)) {
          return;
        }
        const RecordingResult& result = explanation.results[r];
        sights[r] = describeSight(
            recording, config.base,
            result.isFall ? result.fallPosition : result.firstIndex.value_or(int64_t{0}));
        for (std::size_t d = 0; d < config.space.size(); ++d) {
          const ValueClasses classes = classesFor(plans[d], recording, quantities);
          for (const Side side : {Side::Down, Side::Up}) {
            if (const auto value = nearestFix(recording, config.base, config.space[d], plans[d],
                                              classes, side, tolerance, work[r])) {
              fixes[r].push_back(RecordingFix{d, side, *value});
            }
          }
        }
      },
      {});
  explanation.baseCounts = OutcomeCounts(velmora::evaluation::summarise(explanation.results));

  // The values to cost, per dimension, ascending.
  std::vector<std::vector<int32_t>> values(config.space.size());
  std::map<std::pair<std::size_t, int32_t>, int64_t> fixedCount;
  for (const std::vector<RecordingFix>& list : fixes) {
    for (const RecordingFix& fix : list) {
      values[fix.dimension].push_back(fix.value);
      ++fixedCount[{fix.dimension, fix.value}];
    }
  }
  std::vector<std::size_t> offset(config.space.size() + 1, 0);
  for (std::size_t d = 0; d < values.size(); ++d) {
    std::sort(values[d].begin(), values[d].end());
    values[d].erase(std::unique(values[d].begin(), values[d].end()), values[d].end());
    offset[d + 1] = offset[d] + values[d].size();
  }
  const std::size_t candidates = offset.back();

  // Every recording under every candidate value; values a recording cannot
  // tell from the base are not run again, nor two of the same class.
  std::vector<std::vector<Effect>> effects(count);
  std::vector<int64_t> costWork(count, 0);
  velmora::evaluation::parallelFor(
      count, config.jobs,
      [&](std::size_t r) {
        const CachedRecording& recording = cache.recordings[r];
        const RecordingResult& baseResult = explanation.results[r];
        std::vector<Effect>& row = effects[r];
        row.assign(candidates, Effect{baseResult.outcome, baseResult.alarms});
        if (baseResult.outcome == Outcome::Unreadable || candidates == 0) {
          return;
        }
        SampleQuantities quantities;
        if (recording.measurements.size() > 0) {
          (void)observeBase(recording, config.base, tolerance, quantities);
        }
        const bool untilFirst = recording.loaded.isFall;
        for (std::size_t d = 0; d < config.space.size(); ++d) {
          if (values[d].empty()) {
            continue;
          }
          const ValueClasses classes = classesFor(plans[d], recording, quantities);
          std::map<int32_t, Effect> byClass;
          for (std::size_t k = 0; k < values[d].size(); ++k) {
            const int32_t value = values[d][k];
            if (classes.same(value, plans[d].base)) {
              continue;
            }
            const int32_t key = classes.classKey(value);
            auto found = byClass.find(key);
            if (found == byClass.end()) {
              DetectorSettings settings = config.base;
              settings.*config.space[d].field->member = value;
              const RunResult run = runCached(recording, settings, untilFirst, costWork[r]);
              found = byClass
                          .emplace(key, Effect{outcomeOf(recording, run, tolerance),
                                               untilFirst ? 0 : run.alarms})
                          .first;
            }
            row[offset[d] + k] = found->second;
          }
        }
      },
      {});

  // Dataset figures of each candidate, in a fixed order.
  for (std::size_t d = 0; d < config.space.size(); ++d) {
    for (std::size_t k = 0; k < values[d].size(); ++k) {
      FixCost cost;
      cost.dimension = d;
      cost.value = values[d][k];
      cost.recordingsFixed = fixedCount[{d, cost.value}];
      cost.counts = explanation.baseCounts;
      for (std::size_t r = 0; r < count; ++r) {
        const RecordingResult& baseResult = explanation.results[r];
        const Effect& effect = effects[r][offset[d] + k];
        if (baseResult.outcome == Outcome::Unreadable) {
          continue;
        }
        if (baseResult.isFall) {
          const bool was = baseResult.outcome == Outcome::TruePositive;
          const bool now = effect.outcome == Outcome::TruePositive;
          cost.fallsGained += (!was && now) ? 1 : 0;
          cost.fallsLost += (was && !now) ? 1 : 0;
        } else {
          const int64_t change = effect.alarms - baseResult.alarms;
          cost.falseAlarmsAdded += std::max<int64_t>(change, 0);
          cost.falseAlarmsRemoved += std::max<int64_t>(-change, 0);
          cost.counts.dailyLivingAlarms += change;
        }
        if (effect.outcome != baseResult.outcome) {
          const auto bucket = [&](Outcome outcome) -> int64_t& {
            switch (outcome) {
              case Outcome::TruePositive:
                return cost.counts.truePositives;
              case Outcome::Missed:
                return cost.counts.missed;
              case Outcome::EarlyAlarm:
                return cost.counts.earlyAlarms;
              case Outcome::FalseAlarm:
                return cost.counts.falseAlarms;
              case Outcome::TrueNegative:
              case Outcome::Unreadable:
                break;
            }
            return cost.counts.trueNegatives;
          };
          --bucket(baseResult.outcome);
          ++bucket(effect.outcome);
        }
      }
      explanation.costs.push_back(cost);
    }
  }

  // Ranking: falls gained per false alarm added; a fix that adds none comes
  // first. Ties: more falls gained, fewer lost, fewer alarms added, more
  // removed, space order.
  explanation.ranking.resize(explanation.costs.size());
  for (std::size_t i = 0; i < explanation.ranking.size(); ++i) {
    explanation.ranking[i] = i;
  }
  const auto before = [&](std::size_t ia, std::size_t ib) {
    const FixCost& a = explanation.costs[ia];
    const FixCost& b = explanation.costs[ib];
    // gained_a / added_a > gained_b / added_b, with x / 0 above every ratio
    // (and 0 / 0 below any gain), compared exactly in integers.
    const bool aFree = a.falseAlarmsAdded == 0;
    const bool bFree = b.falseAlarmsAdded == 0;
    if (aFree != bFree) {
      return aFree;
    }
    if (!aFree) {
      const int64_t left = a.fallsGained * b.falseAlarmsAdded;
      const int64_t right = b.fallsGained * a.falseAlarmsAdded;
      if (left != right) {
        return left > right;
      }
    }
    if (a.fallsGained != b.fallsGained) {
      return a.fallsGained > b.fallsGained;
    }
    if (a.fallsLost != b.fallsLost) {
      return a.fallsLost < b.fallsLost;
    }
    if (a.falseAlarmsAdded != b.falseAlarmsAdded) {
      return a.falseAlarmsAdded < b.falseAlarmsAdded;
    }
    if (a.falseAlarmsRemoved != b.falseAlarmsRemoved) {
      return a.falseAlarmsRemoved > b.falseAlarmsRemoved;
    }
    return ia < ib;
  };
  std::sort(explanation.ranking.begin(), explanation.ranking.end(), before);

  // Per error: its fixes, nearest cause and what the detector saw.
  for (std::size_t r = 0; r < count; ++r) {
    const RecordingResult& result = explanation.results[r];
    if (result.outcome == Outcome::Unreadable || isRight(result.outcome)) {
      continue;
    }
    RecordingExplanation error;
    error.recording = r;
    error.outcome = result.outcome;
    error.firstIndex = result.firstIndex;
    error.firstCode = result.firstCode;
    std::sort(fixes[r].begin(), fixes[r].end(), [](const RecordingFix& a, const RecordingFix& b) {
      return std::make_pair(a.dimension, a.side) < std::make_pair(b.dimension, b.side);
    });
    error.fixes = fixes[r];
    // The nearest fix in steps of the space; ties to the earlier setting,
    // then down before up.
    std::optional<double> nearest;
    for (const RecordingFix& fix : error.fixes) {
      const Dimension& dimension = config.space[fix.dimension];
      const double steps = std::abs(static_cast<double>(fix.value) - plans[fix.dimension].base) /
                           std::max<int32_t>(dimension.step, 1);
      if (!nearest || steps < *nearest) {
        nearest = steps;
        error.cause = causeOfSetting(dimension.name());
      }
    }
    error.sight = std::move(sights[r]);
    explanation.errors.push_back(std::move(error));
  }
  for (std::size_t r = 0; r < count; ++r) {
    explanation.candidateSamples += work[r] + costWork[r];
  }
  return explanation;
}

}  // namespace tune
