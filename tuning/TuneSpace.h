// The settings a tuning run varies: one dimension per setting, an integer
// range walked in whole steps. A sweep evaluates the full grid of such
// dimensions; a search samples and refines points inside it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsTable.h"
#include "Velmora.h"

namespace tune {

struct Dimension {
  const VelmoraSetting* field = nullptr;
  int32_t low = 0;
  int32_t high = 0;
  int32_t step = 1;

  [[nodiscard]] const char* name() const { return field->name; }
  // Values in the range: low, low + step, ... up to high (high itself only
  // when the step lands on it).
  [[nodiscard]] int64_t levels() const;
  [[nodiscard]] int32_t valueAt(int64_t level) const;
  // The level whose value lies nearest `value` (ties to the lower level).
  [[nodiscard]] int64_t nearestLevel(int64_t value) const;
};

// A point of the space: one level per dimension, in dimension order.
using Levels = std::vector<int64_t>;

inline constexpr int64_t kDefaultMaxPoints = 1'000'000;

// Parses "NAME=FROM:TO[:STEP]" (the --vary syntax). Returns an error message
// or "".
[[nodiscard]] std::string parseVary(std::string_view text, Dimension& dimension);

// Parses a space file: one dimension a line as "NAME LOW HIGH [STEP]"
// (blanks or commas between the fields), '#' starts a comment, blank lines
// are ignored. `origin` names the text in errors. Returns an error or "".
[[nodiscard]] std::string parseSpaceText(std::string_view text, std::string_view origin,
                                         std::vector<Dimension>& space);
[[nodiscard]] std::string parseSpaceFile(const std::string& path, std::vector<Dimension>& space);

// The text of a space in the space-file format (one line a dimension).
[[nodiscard]] std::string formatSpace(const std::vector<Dimension>& space);

// Checks a space against itself and the detector: each setting once, and
// every value of every dimension accepted by the settings check when the
// other settings keep their base values. Returns an error or "".
[[nodiscard]] std::string checkSpace(const std::vector<Dimension>& space,
                                     const DetectorSettings& base);

// Points in the grid, saturating at INT64_MAX.
[[nodiscard]] int64_t gridSize(const std::vector<Dimension>& space);

// The levels of grid point `index`: the first dimension varies slowest.
[[nodiscard]] Levels gridLevels(const std::vector<Dimension>& space, int64_t index);

// `base` with the values of `levels` written into the varied settings.
[[nodiscard]] DetectorSettings applyLevels(const std::vector<Dimension>& space,
                                           const Levels& levels, DetectorSettings base);

}  // namespace tune
