// Detector settings by name: NAME=VALUE assignments, settings files of
// NAME=VALUE lines, and printing the effective settings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Velmora.h"
#include "VelmoraSettings.h"

// The setting a mistyped name most likely meant ("lowlevel" -> "lowLevel"),
// or an empty view when no name is close.
[[nodiscard]] std::string_view suggestSetting(std::string_view name);

// "unknown setting 'NAME'", followed by "; did you mean 'lowLevel'?" when a
// setting's name is close.
[[nodiscard]] std::string unknownSettingMessage(std::string_view name);

// A whole decimal integer in the 32-bit range (surrounding blanks allowed).
[[nodiscard]] std::optional<int32_t> parseInt32(std::string_view text);

// Applies one "NAME=VALUE" assignment. Returns an error message, or an
// empty string on success.
[[nodiscard]] std::string applySetting(DetectorSettings& settings, std::string_view assignment);

// Applies a settings file: a regular file of at most 1 MiB, one NAME=VALUE
// per line, '#' starts a comment, blank lines are ignored. Returns an error
// message naming the file and line, or an empty string on success.
[[nodiscard]] std::string applySettingsFile(DetectorSettings& settings, const std::string& path);

// Applies settings text in the file format; `origin` names it in errors.
[[nodiscard]] std::string applySettingsText(DetectorSettings& settings, std::string_view text,
                                            std::string_view origin);

// `text` made safe for a '#' comment line of a settings file: line breaks
// and the other control bytes written as \n, \r, \t or \xHH, so the text
// can neither end the comment nor start a line of its own.
[[nodiscard]] std::string settingsComment(std::string_view text);

// "NAME=VALUE" lines in table order.
[[nodiscard]] std::string formatSettings(const DetectorSettings& settings);
