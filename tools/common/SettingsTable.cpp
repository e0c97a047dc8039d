#include "SettingsTable.h"

#include <charconv>

#include "CommandLine.h"

namespace {

#define VELMORA_SETTING(name) \
  SettingField { #name, &DetectorSettings::name }
constexpr SettingField kFields[] = {
    VELMORA_SETTING(avgWindow),       VELMORA_SETTING(lowLevel),
    VELMORA_SETTING(impactMin),       VELMORA_SETTING(impactMax),
    VELMORA_SETTING(gyroAvgLow),      VELMORA_SETTING(gyroAvgHigh),
    VELMORA_SETTING(accAvgLimit),     VELMORA_SETTING(spare7),
    VELMORA_SETTING(rollLimit),       VELMORA_SETTING(pitchUprightMin),
    VELMORA_SETTING(pitchImpactMin),  VELMORA_SETTING(pitchMax),
    VELMORA_SETTING(minEventRun),     VELMORA_SETTING(maxJumpSpan),
    VELMORA_SETTING(stillEnterLevel), VELMORA_SETTING(stillExitLevel),
    VELMORA_SETTING(stillAvgMax),     VELMORA_SETTING(burstHigh),
    VELMORA_SETTING(burstHighWindow), VELMORA_SETTING(burstHighMinLen),
    VELMORA_SETTING(burstLow),        VELMORA_SETTING(burstLowWindow),
    VELMORA_SETTING(burstLowMinLen),  VELMORA_SETTING(uprightLag),
    VELMORA_SETTING(uprightDeltaMax), VELMORA_SETTING(turnAccLevel),
    VELMORA_SETTING(turnGyroLevel),   VELMORA_SETTING(turnRunMin),
    VELMORA_SETTING(lowEventMinLen),  VELMORA_SETTING(lowRunMin),
    VELMORA_SETTING(lowTotalMin),     VELMORA_SETTING(gapMin),
    VELMORA_SETTING(gapMax),          VELMORA_SETTING(postPeakMin),
    VELMORA_SETTING(spare34),
};
#undef VELMORA_SETTING
static_assert(sizeof kFields / sizeof kFields[0] == sizeof(DetectorSettings) / sizeof(int32_t));

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::span<const SettingField> settingFields() { return kFields; }

const SettingField* findSetting(std::string_view name) {
  for (const SettingField& field : kFields) {
    if (name == field.name) {
      return &field;
    }
  }
  return nullptr;
}

std::optional<int32_t> parseInt32(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::string applySetting(DetectorSettings& settings, std::string_view assignment) {
  const auto equals = assignment.find('=');
  if (equals == std::string_view::npos) {
    return "expected NAME=VALUE, got '" + std::string(assignment) + "'";
  }
  const std::string_view name = trim(assignment.substr(0, equals));
  const std::string_view valueText = assignment.substr(equals + 1);
  const SettingField* field = findSetting(name);
  if (field == nullptr) {
    return "unknown setting '" + std::string(name) + "' (see --print-settings for the names)";
  }
  const std::optional<int32_t> value = parseInt32(valueText);
  if (!value) {
    return "setting " + std::string(name) + ": '" + std::string(trim(valueText)) +
           "' is not a 32-bit integer";
  }
  settings.*(field->member) = *value;
  return {};
}

bool takeSetOption(int argc, char** argv, int& i, DetectorSettings& settings, std::string& error) {
  const std::string_view arg = argv[i];
  constexpr std::string_view kJoined = "--set=";
  std::string_view assignment;
  if (arg == "--set") {
    if (i + 1 >= argc) {
      error = "--set needs NAME=VALUE";
      return true;
    }
    assignment = argv[++i];
  } else if (arg.substr(0, kJoined.size()) == kJoined) {
    assignment = arg.substr(kJoined.size());
  } else {
    return false;
  }
  error = applySetting(settings, assignment);
  return true;
}

std::string applySettingsText(DetectorSettings& settings, std::string_view text,
                              std::string_view origin) {
  int lineNumber = 0;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    line = trim(line);
    if (line.empty()) {
      continue;
    }
    if (std::string error = applySetting(settings, line); !error.empty()) {
      return std::string(origin) + ":" + std::to_string(lineNumber) + ": " + error;
    }
  }
  return {};
}

std::string applySettingsFile(DetectorSettings& settings, const std::string& path) {
  std::string content;
  if (std::string error = readRegularFile(path, "settings file", kMaxSettingsFileBytes, content);
      !error.empty()) {
    return error;
  }
  return applySettingsText(settings, content, path);
}

std::string validateSettings(const DetectorSettings& settings) {
  if (settings.avgWindow < 1 || settings.avgWindow > kRingSize - 1) {
    return "avgWindow must lie in 1..63, got " + std::to_string(settings.avgWindow);
  }
  return {};
}

std::string formatSettings(const DetectorSettings& settings) {
  std::string text;
  for (const SettingField& field : kFields) {
    text += field.name;
    text += '=';
    text += std::to_string(settings.*(field.member));
    text += '\n';
  }
  return text;
}
