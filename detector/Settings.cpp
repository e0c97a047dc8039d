// The settings table and the settings check.
#include <iterator>
#include <limits>

#include "DetectorInternal.h"
#include "VelmoraSettings.h"

namespace {

constexpr int32_t kNoMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kNoMax = std::numeric_limits<int32_t>::max();

#define VELMORA_SETTING(name, unit, minimum, maximum, tuneMin, tuneMax, tuneStep, stage, text) \
  VelmoraSetting {                                                                             \
#name, &DetectorSettings::name, unit, kVelmoraDefaultSettings.name, minimum, maximum, tuneMin,    \
        tuneMax, tuneStep, stage, text                                                         \
  }

// clang-format off
constexpr VelmoraSetting kSettings[] = {
  VELMORA_SETTING(avgWindow, "samples", 1, velmora::kMaxAvgWindow, 8, 30, 1, "features, classification",
                  "window of the running mean accAvg; also the fall length most codes need"),
  VELMORA_SETTING(lowLevel, "g/100", kNoMin, kNoMax, 40, 90, 5, "events, classification",
                  "accMag at or below this is low acceleration (free fall; at rest it reads 100)"),
  VELMORA_SETTING(impactMin, "g/100", kNoMin, kNoMax, 120, 200, 10, "events",
                  "an impact opens the jump window when rawAccMag is above this ..."),
  VELMORA_SETTING(impactMax, "g/100", kNoMin, kNoMax, 300, 500, 20, "events",
                  "... and below this"),
  VELMORA_SETTING(gyroAvgLow, "deg/s", kNoMin, kNoMax, 100, 250, 10, "classification",
                  "gyroAvg below this is a slow fall, which needs the full fall length"),
  VELMORA_SETTING(gyroAvgHigh, "deg/s", kNoMin, kNoMax, 250, 450, 10, "classification",
                  "gyroAvg below this lets a short fall count (codes 2, 4)"),
  VELMORA_SETTING(accAvgLimit, "g/100", kNoMin, kNoMax, 25, 60, 5, "classification",
                  "the rate-adjusted accAvg must be below this for a short fall"),
  VELMORA_SETTING(spare7, "", kNoMin, kNoMax, 50, 50, 1, "none",
                  "not read by the detector; kept for the record's layout"),
  VELMORA_SETTING(rollLimit, "deg", kNoMin, kNoMax, 25, 55, 1, "features, events",
                  "upright and impact tests: roll strictly between -rollLimit and rollLimit"),
  VELMORA_SETTING(pitchUprightMin, "deg", kNoMin, kNoMax, -85, -50, 5, "features",
                  "upright test: pitch above this"),
  VELMORA_SETTING(pitchImpactMin, "deg", kNoMin, kNoMax, -120, -60, 5, "events",
                  "impact test: pitch above this"),
  VELMORA_SETTING(pitchMax, "deg", kNoMin, kNoMax, 20, 50, 5, "features, events",
                  "upright and impact tests: pitch below this"),
  VELMORA_SETTING(minEventRun, "samples", kNoMin, kNoMax, 2, 8, 1, "events",
                  "shortest low-acceleration run kept as an event"),
  VELMORA_SETTING(maxJumpSpan, "samples", kNoMin, kNoMax, 20, 50, 1, "events",
                  "longest jump window after an impact"),
  VELMORA_SETTING(stillEnterLevel, "g/100", kNoMin, kNoMax, 40, 80, 5, "events",
                  "rawAccMag at or below this starts a raw low run"),
  VELMORA_SETTING(stillExitLevel, "g/100", kNoMin, kNoMax, 70, 120, 5, "events",
                  "rawAccMag above this ends a raw low run"),
  VELMORA_SETTING(stillAvgMax, "g/100", kNoMin, kNoMax, 40, 70, 5, "events",
                  "the raw run keeps its length while its quiet mean stillAvg is at most this"),
  VELMORA_SETTING(burstHigh, "g/100", kNoMin, kNoMax, 1300, 2000, 50, "classification",
                  "rawAccSum3 at or above this is a strong burst (code 6)"),
  VELMORA_SETTING(burstHighWindow, "samples", kNoMin, kNoMax, 2, 10, 1, "classification",
                  "a strong burst needs a low run that ended at most this long ago ..."),
  VELMORA_SETTING(burstHighMinLen, "samples", kNoMin, kNoMax, 2, 8, 1, "classification",
                  "... and lasted at least this long"),
  VELMORA_SETTING(burstLow, "g/100", kNoMin, kNoMax, 1000, 1500, 50, "classification",
                  "rawAccSum3 at or above this is a moderate burst (code 16)"),
  VELMORA_SETTING(burstLowWindow, "samples", kNoMin, kNoMax, 2, 10, 1, "classification",
                  "a moderate burst needs a low run that ended at most this long ago ..."),
  VELMORA_SETTING(burstLowMinLen, "samples", kNoMin, kNoMax, 3, 12, 1, "classification",
                  "... and lasted at least this long"),
  VELMORA_SETTING(uprightLag, "samples", kNoMin, kNoMax, -8, -1, 1, "classification",
                  "moderate burst: the stretch, this many samples back (negative), checked for posture"),
  VELMORA_SETTING(uprightDeltaMax, "samples", kNoMin, kNoMax, 0, 4, 1, "classification",
                  "moderate burst: at most this many upright samples in that stretch"),
  VELMORA_SETTING(turnAccLevel, "g/100", kNoMin, kNoMax, 120, 200, 10, "events",
                  "turnRun counts samples with rawAccMag above this ..."),
  VELMORA_SETTING(turnGyroLevel, "deg/s", kNoMin, kNoMax, 100, 250, 10, "events",
                  "... and rawGyroMag above this"),
  VELMORA_SETTING(turnRunMin, "samples", kNoMin, kNoMax, 10, 30, 1, "classification",
                  "turnRun for a turning fall (code 5), plus half its upright samples"),
  VELMORA_SETTING(lowEventMinLen, "samples", kNoMin, kNoMax, 5, 15, 1, "classification",
                  "two-run patterns (7, 8): length of the earlier run"),
  VELMORA_SETTING(lowRunMin, "samples", kNoMin, kNoMax, 5, 15, 1, "classification",
                  "two-run patterns: length of the current run"),
  VELMORA_SETTING(lowTotalMin, "samples", kNoMin, kNoMax, 15, 35, 1, "classification",
                  "pattern 8: both runs together at least this long"),
  VELMORA_SETTING(gapMin, "samples", kNoMin, kNoMax, 2, 10, 1, "classification",
                  "two-run patterns: shortest gap between the runs"),
  VELMORA_SETTING(gapMax, "samples", kNoMin, kNoMax, 10, 30, 1, "classification",
                  "two-run patterns: longest gap between the runs"),
  VELMORA_SETTING(postPeakMin, "g/100", kNoMin, kNoMax, 250, 500, 25, "classification",
                  "two-run patterns: rawAccMag peak needed after the earlier run"),
  VELMORA_SETTING(spare34, "", kNoMin, kNoMax, 25, 25, 1, "none",
                  "not read by the detector; kept for the record's layout"),
};
// clang-format on
#undef VELMORA_SETTING
static_assert(std::size(kSettings) == sizeof(DetectorSettings) / sizeof(int32_t));

}  // namespace

std::span<const VelmoraSetting> VelmoraSettingsTable() { return kSettings; }

const VelmoraSetting* VelmoraFindSetting(std::string_view name) {
  for (const VelmoraSetting& setting : kSettings) {
    if (name == setting.name) {
      return &setting;
    }
  }
  return nullptr;
}

std::string VelmoraCheckSettings(const DetectorSettings& settings) {
  for (const VelmoraSetting& setting : kSettings) {
    const int32_t value = settings.*setting.member;
    if (value < setting.minimum || value > setting.maximum) {
      return std::string(setting.name) + " must lie in " + std::to_string(setting.minimum) + ".." +
             std::to_string(setting.maximum) + ", got " + std::to_string(value);
    }
  }
  return {};
}

bool velmora::settingsRunnable(const DetectorSettings& settings) {
  for (const VelmoraSetting& setting : kSettings) {
    const int32_t value = settings.*setting.member;
    if (value < setting.minimum || value > setting.maximum) {
      return false;
    }
  }
  return true;
}
