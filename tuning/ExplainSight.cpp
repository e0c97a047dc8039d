// What the detector saw around a fall or an alarm, read from its
// observation record, and how far each family of result codes got there.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "Explain.h"
#include "VelmoraObservation.h"
#include "VelmoraSettings.h"

namespace tune {

namespace {

// Samples looked at before and after the anchor: a fall is preceded by
// its drop and followed by the impact and lying; an alarm by what caused it.
constexpr int64_t kFallBefore = 2 * kVelmoraSamplesPerSecond;
constexpr int64_t kFallAfter = 3 * kVelmoraSamplesPerSecond;
constexpr int64_t kAlarmBefore = 3 * kVelmoraSamplesPerSecond;
constexpr int64_t kAlarmAfter = 1 * kVelmoraSamplesPerSecond;
// History kept before the window for the tests that look back.
constexpr int64_t kLeadIn = kVelmoraRingSize;
constexpr int64_t kAfterPeak = kVelmoraSamplesPerSecond;

struct Observed {
  int64_t position = 0;
  VelmoraObservation observation{};
  int32_t code = 0;
};

double stepOf(const char* name) {
  const VelmoraSetting* setting = VelmoraFindSetting(name);
  return setting != nullptr && setting->tuneStep > 0 ? setting->tuneStep : 1.0;
}

std::string shortBy(int64_t missing, const char* unit) {
  return missing > 0 ? " (short by " + std::to_string(missing) + " " + unit + ")" : " (reached)";
}

std::string secondsFrom(int64_t position, int64_t anchor) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f s",
                static_cast<double>(position - anchor) / kVelmoraSamplesPerSecond);
  return text;
}

// The newest closed low run before sample j (index into `seen`) of at least
// `minEventRun` samples: its length and the samples since it ended.
struct ClosedRun {
  int32_t length = 0;
  int64_t age = std::numeric_limits<int64_t>::max();
};

ClosedRun lastClosedRun(const std::vector<Observed>& seen, std::size_t j, int32_t minEventRun) {
  for (std::size_t m = j; m-- > 0;) {
    const int32_t run = seen[m].observation.lowRun;
    const int32_t next = seen[m + 1].observation.lowRun;
    if (run > 0 && next != run + 1 && run >= minEventRun) {
      return ClosedRun{run, seen[j].position - seen[m].position};
    }
  }
  return {};
}

int32_t uprightAmong(const std::vector<Observed>& seen, std::size_t j, int64_t k) {
  int32_t upright = 0;
  for (int64_t back = 0; back < k && static_cast<int64_t>(j) - back >= 0; ++back) {
    upright += seen[j - static_cast<std::size_t>(back)].observation.postureFlag == 'O' ? 1 : 0;
  }
  return upright;
}

// The burst codes (6 strong, 16 moderate) at their closest sample.
PatternStage burstStage(const std::vector<Observed>& seen, std::size_t from, std::size_t to,
                        const DetectorSettings& s, bool strong, int64_t anchor) {
  const int32_t level = strong ? s.burstHigh : s.burstLow;
  const int32_t window = strong ? s.burstHighWindow : s.burstLowWindow;
  const int32_t minLen = strong ? s.burstHighMinLen : s.burstLowMinLen;
  const char* levelName = strong ? "burstHigh" : "burstLow";
  const char* minName = strong ? "burstHighMinLen" : "burstLowMinLen";
  const char* windowName = strong ? "burstHighWindow" : "burstLowWindow";
  PatternStage stage;
  stage.codes = strong ? "6" : "16";
  stage.pattern = strong ? "violent impact after a drop" : "hard impact after a drop";
  stage.distance = std::numeric_limits<double>::infinity();
  for (std::size_t j = from; j < to; ++j) {
    const VelmoraObservation& o = seen[j].observation;
    if (o.warmUp) {
      continue;
    }
    const int64_t sumShort = std::max<int64_t>(int64_t{level} - o.rawAccSum3, 0);
    // The low run the test takes: the one under way, or the newest closed
    // one, which must also have ended recently enough.
    const ClosedRun closed = lastClosedRun(seen, j, s.minEventRun);
    const int64_t currentShort = std::max<int64_t>(int64_t{minLen} - o.lowRun, 0);
    const int64_t closedShort = std::max<int64_t>(int64_t{minLen} - closed.length, 0);
    const int64_t closedLate =
        closed.length > 0 ? std::max<int64_t>(closed.age - window, 0) : int64_t{minLen};
    const bool useClosed = closed.length > 0 && closedShort + closedLate < currentShort;
    const int64_t lowShort = useClosed ? closedShort : currentShort;
    const int64_t late = useClosed ? closedLate : 0;
    int64_t uprightOver = 0;
    int32_t upright = 0;
    const int64_t lag = -int64_t{s.uprightLag};
    if (!strong) {
      upright = uprightAmong(seen, j, lag);
      uprightOver = std::max<int64_t>(upright - int64_t{s.uprightDeltaMax}, 0);
    }
    const double distance = static_cast<double>(sumShort) / stepOf(levelName) +
                            static_cast<double>(lowShort) / stepOf(minName) +
                            static_cast<double>(late) / stepOf(windowName) +
                            static_cast<double>(uprightOver) / stepOf("uprightDeltaMax");
    if (distance < stage.distance) {
      stage.distance = distance;
      stage.reached = "at " + secondsFrom(seen[j].position, anchor) + " rawAccSum3 " +
                      std::to_string(o.rawAccSum3) + " of " + levelName + " " +
                      std::to_string(level) + shortBy(sumShort, "g/100") + "; ";
      if (useClosed) {
        stage.reached += "a low run of " + std::to_string(closed.length) + " samples ended " +
                         std::to_string(closed.age) + " samples before (" + minName + " " +
                         std::to_string(minLen) + ", " + windowName + " " + std::to_string(window) +
                         ")";
        if (closedShort > 0) {
          stage.reached += ", short by " + std::to_string(closedShort) + " samples";
        }
        if (late > 0) {
          stage.reached += ", " + std::to_string(late) + " samples too long ago";
        }
      } else {
        stage.reached += "low run under way " + std::to_string(o.lowRun) + " of " + minName + " " +
                         std::to_string(minLen) + shortBy(lowShort, "samples");
      }
      if (!strong) {
        stage.reached +=
            "; " + std::to_string(upright) + " of the last " + std::to_string(lag) +
            " samples upright, uprightDeltaMax " + std::to_string(s.uprightDeltaMax) +
            (uprightOver > 0 ? " (" + std::to_string(uprightOver) + " too many)" : " (met)");
      }
    }
  }
  if (!std::isfinite(stage.distance)) {
    stage.reached = "no sample after the warm-up";
  }
  return stage;
}

}  // namespace

Sight describeSight(const CachedRecording& recording, const DetectorSettings& s, int64_t anchor) {
  Sight sight;
  sight.anchor = anchor;
  const bool fall = recording.loaded.isFall;
  sight.windowStart = std::max<int64_t>(anchor - (fall ? kFallBefore : kAlarmBefore), 0);
  sight.windowEnd = anchor + (fall ? kFallAfter : kAlarmAfter);
  sight.fallLenNeeded = s.avgWindow;
  if (!recording.loaded.readable() || recording.measurements.empty()) {
    return sight;
  }
  // The observations of the window and of a lead-in before it.
  std::vector<Observed> seen;
  {
    const auto context = std::make_unique<DetectorContext>();
    if (VelmoraSet(context.get(), &s) < 0) {
      return sight;
    }
    for (std::size_t i = 0; i < recording.measurements.size(); ++i) {
      Observed item;
      item.position = recording.loaded.positionOf(i);
      item.code =
          VelmoraDecideObserved(context.get(), &recording.measurements[i], &item.observation);
      if (item.position >= sight.windowEnd) {
        break;
      }
      if (item.position >= sight.windowStart - kLeadIn) {
        seen.push_back(item);
      }
    }
    VelmoraClose(context.get());
  }
  std::size_t from = 0;
  while (from < seen.size() && seen[from].position < sight.windowStart) {
    ++from;
  }
  const std::size_t to = seen.size();
  if (from >= to) {
    return sight;
  }
  sight.lowestAcc = std::numeric_limits<int32_t>::max();
  std::size_t peakIndex = from;
  int32_t turnMissing = std::numeric_limits<int32_t>::max();
  int32_t firedCode = 0;
  int64_t firedAt = 0;
  for (std::size_t j = from; j < to; ++j) {
    const VelmoraObservation& o = seen[j].observation;
    if (o.rawAccMag > sight.peakAcc) {
      sight.peakAcc = o.rawAccMag;
      sight.peakAccAt = seen[j].position;
      peakIndex = j;
    }
    if (!o.warmUp && o.rawAccSum3 > sight.peakSum3) {
      sight.peakSum3 = o.rawAccSum3;
      sight.peakSum3At = seen[j].position;
    }
    sight.lowestAcc = std::min(sight.lowestAcc, o.accMag);
    sight.longestLowRun = std::max(sight.longestLowRun, o.lowRun);
    sight.longestRawRun = std::max(sight.longestRawRun, o.stillLen);
    sight.longestFallLen = std::max(sight.longestFallLen, o.fallLen);
    sight.jumpSamples += o.jumpWindowOpen ? 1 : 0;
    sight.lowInJump += o.jumpWindowOpen && o.lowRun > 0 ? 1 : 0;
    sight.longestTurnRun = std::max(sight.longestTurnRun, o.turnRun);
    if (!o.warmUp) {
      turnMissing = std::min<int32_t>(
          turnMissing, static_cast<int32_t>(std::clamp<int64_t>(
                           std::max<int64_t>(o.turnThreshold, s.turnRunMin) - o.turnRun, 0,
                           std::numeric_limits<int32_t>::max())));
    }
    if (seen[j].code > 0 && firedCode == 0) {
      firedCode = seen[j].code;
      firedAt = seen[j].position;
    }
  }
  sight.maxRollAfterPeak = 0;
  sight.minPitchAfterPeak = std::numeric_limits<int32_t>::max();
  sight.maxPitchAfterPeak = std::numeric_limits<int32_t>::min();
  for (std::size_t j = peakIndex + 1; j < to && j <= peakIndex + kAfterPeak; ++j) {
    const VelmoraObservation& o = seen[j].observation;
    ++sight.samplesAfterPeak;
    sight.uprightAfterPeak += o.postureFlag == 'O' ? 1 : 0;
    sight.maxRollAfterPeak = std::max(sight.maxRollAfterPeak, std::abs(o.roll));
    sight.minPitchAfterPeak = std::min(sight.minPitchAfterPeak, o.pitch);
    sight.maxPitchAfterPeak = std::max(sight.maxPitchAfterPeak, o.pitch);
  }
  if (sight.samplesAfterPeak == 0) {
    sight.minPitchAfterPeak = sight.maxPitchAfterPeak = 0;
  }

  // Long or turning low phase (1 2 3 4 12 14 and their raw versions).
  {
    PatternStage stage;
    stage.codes = "1 3 12 14 (101 103 112 114)";
    stage.pattern = "long low phase";
    const int64_t missing = std::max<int64_t>(int64_t{s.avgWindow} - sight.longestFallLen, 0);
    stage.distance = static_cast<double>(missing) / stepOf("avgWindow");
    stage.reached = "fall length " + std::to_string(sight.longestFallLen) + " of avgWindow " +
                    std::to_string(s.avgWindow) + shortBy(missing, "samples");
    if (sight.lowestAcc > s.lowLevel) {
      stage.reached += "; smoothed acceleration never at or below lowLevel " +
                       std::to_string(s.lowLevel) + " (lowest " + std::to_string(sight.lowestAcc) +
                       ", short by " + std::to_string(sight.lowestAcc - s.lowLevel) + " g/100)";
    } else if (sight.lowInJump > 0) {
      stage.reached += "; " + std::to_string(sight.lowInJump) +
                       " low samples fell inside a jump window and did not count";
    }
    sight.stages.push_back(stage);
  }
  {
    PatternStage stage;
    stage.codes = "9 (109)";
    stage.pattern = "very long low phase";
    const int32_t longest = std::max(sight.longestLowRun, sight.longestRawRun);
    const int64_t needed = int64_t{s.avgWindow} + 18;
    const int64_t missing = std::max<int64_t>(needed - longest, 0);
    stage.distance = static_cast<double>(missing) / stepOf("avgWindow");
    stage.reached = "low run " + std::to_string(longest) +
                    " of avgWindow + 18 = " + std::to_string(needed) + shortBy(missing, "samples");
    sight.stages.push_back(stage);
  }
  {
    PatternStage stage;
    stage.codes = "5";
    stage.pattern = "tumbling";
    const int64_t missing =
        turnMissing == std::numeric_limits<int32_t>::max() ? s.turnRunMin : turnMissing;
    stage.distance = static_cast<double>(missing) / stepOf("turnRunMin");
    stage.reached = "turnRun " + std::to_string(sight.longestTurnRun) + " against turnRunMin " +
                    std::to_string(s.turnRunMin) + " plus half its upright samples" +
                    shortBy(missing, "samples");
    sight.stages.push_back(stage);
  }
  sight.stages.push_back(burstStage(seen, from, to, s, true, anchor));
  sight.stages.push_back(burstStage(seen, from, to, s, false, anchor));
  if (firedCode > 0) {
    PatternStage stage;
    stage.codes = std::to_string(firedCode);
    stage.pattern = "alarm raised";
    stage.reached = "code " + std::to_string(firedCode) + " at " + secondsFrom(firedAt, anchor);
    stage.distance = -1.0;
    sight.stages.push_back(stage);
  }
  std::stable_sort(
      sight.stages.begin(), sight.stages.end(),
      [](const PatternStage& a, const PatternStage& b) { return a.distance < b.distance; });
  return sight;
}

}  // namespace tune
