// The activities velmora-synth can record: daily living and falls, each a
// body motion over time built from a few phases (standing, walking, the
// event itself, resting).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "BodyMotion.h"

struct ScenarioOptions {
  uint64_t seed = 1;
  double walkSeconds = 6.0;  // walking before the event (the whole walk for "walking")
  double restSeconds = 6.0;  // lying or sitting still after the event
};

struct ScenarioInfo {
  const char* name;
  const char* description;
  bool fall;
};

struct Scenario {
  ScenarioInfo info;
  double seconds = 0.0;  // length of the recording
  MotionFunction motion;
  SensorNoise noise;
};

[[nodiscard]] std::span<const ScenarioInfo> scenarioList();

// Builds the named scenario; the seed varies the gait, the event and the
// sensor's offsets. Empty for an unknown name.
[[nodiscard]] std::optional<Scenario> makeScenario(std::string_view name,
                                                   const ScenarioOptions& options);
