#include "TuneSpace.h"

#include <limits>
#include <map>
#include <set>

#include "TextUtils.h"

namespace tune {

namespace {

// Fills `dimension` from its four texts; `step` may be empty (step 1).
std::string makeDimension(std::string_view name, std::string_view low, std::string_view high,
                          std::string_view step, Dimension& dimension) {
  const VelmoraSetting* field = VelmoraFindSetting(name);
  if (field == nullptr) {
    return unknownSettingMessage(name);
  }
  const std::optional<int32_t> lowValue = parseInt32(low);
  const std::optional<int32_t> highValue = parseInt32(high);
  const std::optional<int32_t> stepValue =
      step.empty() ? std::optional<int32_t>(1) : parseInt32(step);
  if (!lowValue || !highValue) {
    return std::string(name) + ": '" + std::string(!lowValue ? low : high) +
           "' is not a 32-bit integer";
  }
  if (!stepValue) {
    return std::string(name) + ": step '" + std::string(step) + "' is not a 32-bit integer";
  }
  if (*lowValue > *highValue) {
    return std::string(name) + ": the low end " + std::to_string(*lowValue) +
           " lies above the high end " + std::to_string(*highValue);
  }
  if (*stepValue <= 0) {
    return std::string(name) + ": the step must be a positive integer, got " +
           std::to_string(*stepValue);
  }
  dimension = Dimension{field, *lowValue, *highValue, *stepValue};
  return {};
}

}  // namespace

int64_t Dimension::levels() const { return (int64_t{high} - int64_t{low}) / int64_t{step} + 1; }

int32_t Dimension::valueAt(int64_t level) const {
  return static_cast<int32_t>(int64_t{low} + level * int64_t{step});
}

int64_t Dimension::nearestLevel(int64_t value) const {
  if (value <= low) {
    return 0;
  }
  const int64_t last = levels() - 1;
  const int64_t below = (value - low) / step;
  if (below >= last) {
    return last;
  }
  const int64_t offset = (value - low) % step;
  return offset * 2 > step ? below + 1 : below;
}

std::string parseVary(std::string_view text, Dimension& dimension) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    return "--vary: expected NAME=FROM:TO[:STEP], got '" + std::string(text) + "'";
  }
  const std::string_view name = trimBlanks(text.substr(0, equals));
  std::string_view range = text.substr(equals + 1);
  std::vector<std::string_view> parts;
  while (true) {
    const auto colon = range.find(':');
    parts.push_back(range.substr(0, colon));
    if (colon == std::string_view::npos) {
      break;
    }
    range = range.substr(colon + 1);
  }
  if (parts.size() < 2 || parts.size() > 3) {
    return "--vary: expected NAME=FROM:TO[:STEP], got '" + std::string(text) + "'";
  }
  if (std::string error = makeDimension(
          name, parts[0], parts[1], parts.size() == 3 ? parts[2] : std::string_view{}, dimension);
      !error.empty()) {
    return "--vary: " + error;
  }
  return {};
}

std::string parseSpaceText(std::string_view text, std::string_view origin,
                           std::vector<Dimension>& space) {
  int lineNumber = 0;
  std::map<std::string, int> firstLines;  // of each setting named
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    std::vector<std::string_view> fields;
    while (true) {
      const auto start = line.find_first_not_of(" \t\r,");
      if (start == std::string_view::npos) {
        break;
      }
      line = line.substr(start);
      const auto end = line.find_first_of(" \t\r,");
      fields.push_back(line.substr(0, end));
      if (end == std::string_view::npos) {
        break;
      }
      line = line.substr(end);
    }
    if (fields.empty()) {
      continue;
    }
    const std::string where = std::string(origin) + ":" + std::to_string(lineNumber) + ": ";
    if (fields.size() < 3 || fields.size() > 4) {
      return where + "expected NAME LOW HIGH [STEP]";
    }
    Dimension dimension;
    if (std::string error =
            makeDimension(fields[0], fields[1], fields[2],
                          fields.size() == 4 ? fields[3] : std::string_view{}, dimension);
        !error.empty()) {
      return where + error;
    }
    if (const auto [at, added] = firstLines.emplace(dimension.name(), lineNumber); !added) {
      return where + dimension.name() + " is varied twice (also on line " +
             std::to_string(at->second) + ")";
    }
    space.push_back(dimension);
  }
  if (space.empty()) {
    return std::string(origin) + ": no settings to search";
  }
  return {};
}

std::string parseSpaceFile(const std::string& path, std::vector<Dimension>& space) {
  std::string content;
  if (std::string error = readRegularFile(path, "space file", kMaxSettingsFileBytes, content);
      !error.empty()) {
    return error;
  }
  return parseSpaceText(content, path, space);
}

std::string formatSpace(const std::vector<Dimension>& space) {
  std::string text;
  for (const Dimension& dimension : space) {
    text += std::string(dimension.name()) + " " + std::to_string(dimension.low) + " " +
            std::to_string(dimension.high) + " " + std::to_string(dimension.step) + "\n";
  }
  return text;
}

std::string checkSpace(const std::vector<Dimension>& space, const DetectorSettings& base) {
  std::set<std::string> seen;
  for (const Dimension& dimension : space) {
    if (!seen.insert(dimension.name()).second) {
      return std::string(dimension.name()) + " is varied twice";
    }
    // The detector's limits are intervals, so the two ends decide; short
    // ranges are checked value by value all the same.
    const int64_t last = dimension.levels() - 1;
    DetectorSettings settings = base;
    for (int64_t level = 0; level <= last;
         level = level + 1 < last && last > 4096 ? last : level + 1) {
      settings.*(dimension.field->member) = dimension.valueAt(level);
      if (std::string error = VelmoraCheckSettings(settings); !error.empty()) {
        return std::string(dimension.name()) + "=" + std::to_string(dimension.valueAt(level)) +
               " is refused by the detector: " + error;
      }
    }
  }
  return {};
}

int64_t gridSize(const std::vector<Dimension>& space) {
  int64_t size = 1;
  for (const Dimension& dimension : space) {
    if (size > std::numeric_limits<int64_t>::max() / dimension.levels()) {
      return std::numeric_limits<int64_t>::max();
    }
    size *= dimension.levels();
  }
  return size;
}

Levels gridLevels(const std::vector<Dimension>& space, int64_t index) {
  Levels levels(space.size(), 0);
  for (std::size_t d = space.size(); d-- > 0;) {
    levels[d] = index % space[d].levels();
    index /= space[d].levels();
  }
  return levels;
}

DetectorSettings applyLevels(const std::vector<Dimension>& space, const Levels& levels,
                             DetectorSettings base) {
  for (std::size_t d = 0; d < space.size(); ++d) {
    base.*(space[d].field->member) = space[d].valueAt(levels[d]);
  }
  return base;
}

}  // namespace tune
