// The --set option every program that runs the detector takes.
#pragma once

#include <string>

#include "Velmora.h"

// Recognises "--set NAME=VALUE" and "--set=NAME=VALUE" at argv[i]. Returns
// false when argv[i] is something else. Otherwise consumes the option (and
// its value, advancing i) and applies it; `error` then holds a message on
// failure and is empty on success.
[[nodiscard]] bool takeSetOption(int argc, char** argv, int& i, DetectorSettings& settings,
                                 std::string& error);
