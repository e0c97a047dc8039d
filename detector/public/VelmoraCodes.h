// The result codes in words. Every positive code VelmoraProcess returns
// names the pattern that recognised a fall; this table gives each one a
// short meaning for alarm lines and explanations, and the pattern itself in
// terms of the settings (VelmoraSettings.h). docs/codes.md shows the table.
#pragma once

#include <cstdint>
#include <span>

struct VelmoraCodeInfo {
  int32_t code;         // as VelmoraProcess returns it
  const char* meaning;  // a few plain words, e.g. for an alarm line
  const char* pattern;  // the test that gives the code, naming its settings
};

// Every positive code, ascending: the codes of kVelmoraFallCodes, in that order.
[[nodiscard]] std::span<const VelmoraCodeInfo> VelmoraCodeTable();
// The entry of that code, or nullptr for 0 and any code the detector never
// returns.
[[nodiscard]] const VelmoraCodeInfo* VelmoraDescribeCode(int32_t code);
