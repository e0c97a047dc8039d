// Small text helpers shared by the info-file reader and the recording reader.
#pragma once

#include <cstddef>
#include <cstdint>
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
