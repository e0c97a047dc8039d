#include "SettingsTable.h"

#include <charconv>
#include <vector>

#include "ClosestName.h"
#include "TextUtils.h"

std::string_view suggestSetting(std::string_view name) {
  std::vector<std::string_view> names;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    names.push_back(field.name);
  }
  return closestName(name, names);
}

std::string unknownSettingMessage(std::string_view name) {
  std::string message = "unknown setting '" + std::string(name) + "'";
  if (const std::string_view meant = suggestSetting(name); !meant.empty()) {
    message += "; did you mean '" + std::string(meant) + "'?";
  }
  return message;
}

std::optional<int32_t> parseInt32(std::string_view text) {
  text = trimBlanks(text);
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
  const std::string_view name = trimBlanks(assignment.substr(0, equals));
  const std::string_view valueText = assignment.substr(equals + 1);
  const VelmoraSetting* field = VelmoraFindSetting(name);
  if (field == nullptr) {
    return suggestSetting(name).empty()
               ? unknownSettingMessage(name) + " (see --print-settings for the names)"
               : unknownSettingMessage(name);
  }
  const std::optional<int32_t> value = parseInt32(valueText);
  if (!value) {
    return "setting " + std::string(name) + ": '" + std::string(trimBlanks(valueText)) +
           "' is not a 32-bit integer";
  }
  settings.*(field->member) = *value;
  return {};
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
    line = trimBlanks(line);
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

std::string settingsComment(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      constexpr char kDigits[] = "0123456789ABCDEF";
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string formatSettings(const DetectorSettings& settings) {
  std::string text;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    text += field.name;
    text += '=';
    text += std::to_string(settings.*(field.member));
    text += '\n';
  }
  return text;
}
