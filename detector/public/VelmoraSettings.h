// The detector's settings by name: one table that the tools' --set option,
// the documentation and the tuner's search space all read, and the check
// that refuses settings the detector cannot run with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Velmora.h"

struct VelmoraSetting {
  const char* name;                   // the member's name
  int32_t DetectorSettings::*member;  // the member itself
  const char* unit;                   // "g/100", "deg", "deg/s", "samples" or ""
  int32_t defaultValue;               // as VelmoraDefaultSettings sets it
  int32_t minimum;                    // hard limits: VelmoraSet refuses a value
  int32_t maximum;                    //   outside minimum..maximum
  int32_t tuneMin;                    // a sensible range for tuning, in steps of
  int32_t tuneMax;                    //   tuneStep; tuneMin == tuneMax means the
  int32_t tuneStep;                   //   setting is not worth tuning
  const char* stage;                  // "features", "events", "classification", or "none"
  const char* description;            // one line, plain words
};

// The 35 settings in the order of DetectorSettings.
[[nodiscard]] std::span<const VelmoraSetting> VelmoraSettingsTable();
// The setting of that name, or null.
[[nodiscard]] const VelmoraSetting* VelmoraFindSetting(std::string_view name);
// Empty when VelmoraSet accepts the settings; otherwise the reason, as every
// tool shows it: "avgWindow must lie in 1..63, got 64".
[[nodiscard]] std::string VelmoraCheckSettings(const DetectorSettings& settings);
