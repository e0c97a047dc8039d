// Small text helpers shared by the readers of recordings, info files and
// settings files, and by whatever escapes text for output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Reads at most size - 1 bytes from the start of the file into buffer and
// terminates them with a zero byte. Returns the count, or -1 when the file
// cannot be opened or read (buffer untouched then).
int32_t ReadTextFile(const char* path, char* buffer, std::size_t size);

// Ends the string at its first CR or LF. Always returns 0.
int32_t CutAtLineEnd(char* text);

// Splits line in place at commas and stores the start of each field in
// fields, at most maxFields of them. An empty field is a field; a field
// that begins with a double quote may hold commas up to the next quote.
// Returns the number of fields stored.
int32_t SplitCsvFields(char* line, char** fields, int32_t maxFields);

// Decimal conversion as atoi/strtol do it on 64-bit Linux: leading white
// space, optional sign, digits up to the first other character, 0 without
// digits, saturation at the 64-bit limits. Reads up to the end of text.
[[nodiscard]] int64_t parseDecimal(std::string_view text);

// `text` without the spaces, tabs, CRs and LFs around it.
[[nodiscard]] std::string_view trimBlanks(std::string_view text);

// Length of the valid UTF-8 sequence at text[0] (no overlong forms, surrogates
// or code points past U+10FFFF), or 0; ASCII counts as invalid here.
[[nodiscard]] std::size_t utf8Length(std::string_view text);

// Reads a small input file whole: only a regular file (a FIFO or device
// would hang or never end) of at most `maxBytes`. Returns "" on success or
// a message naming the file ("<role> '<path>' is not a regular file", ...).
[[nodiscard]] std::string readRegularFile(const std::string& path, std::string_view role,
                                          std::size_t maxBytes, std::string& text);

// Largest settings file the tools accept.
inline constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;

// True when the whole text is valid UTF-8 (ASCII included).
[[nodiscard]] bool isValidUtf8(std::string_view text);
