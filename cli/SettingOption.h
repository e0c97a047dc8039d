// The options every program that runs the detector declares alike: the
// detector's settings and the number of threads.
#pragma once

#include <string>
#include <vector>

#include "OptionParser.h"
#include "Velmora.h"

// --set NAME=VALUE, --settings FILE and --profile NAME (a shipped settings
// file found by name beside the program), applied to `settings` in the
// order given. A settings file, a profile's included, is added to
// `settingsFiles` (an input no output may replace); '-' and an empty name
// are refused. Every program that runs the detector declares these, so
// that each takes them alike.
[[nodiscard]] OptionTable settingsOptions(DetectorSettings& settings,
                                          std::vector<std::string>& settingsFiles);

// The most threads -j accepts.
inline constexpr int kMaxJobs = 1024;

// -j N, --jobs N (also -jN): threads, 1..kMaxJobs, into `jobs`.
[[nodiscard]] OptionSpec jobsOption(int& jobs);
