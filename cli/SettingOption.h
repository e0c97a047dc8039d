// The options every program that runs the detector declares alike: the
// detector's settings and the number of threads.
#pragma once

#include <string>
#include <vector>

#include "OptionParser.h"
#include "Velmora.h"

// --set NAME=VALUE and --settings FILE, applied to `settings` in the order
// given. A settings file is added to `settingsFiles` (an input no output may
// replace); '-' and an empty name are refused. Further ways to choose
// settings (a named profile, say) are declared here, so that every program
// takes them alike.
[[nodiscard]] OptionTable settingsOptions(DetectorSettings& settings,
                                          std::vector<std::string>& settingsFiles);

// The most threads -j accepts.
inline constexpr int kMaxJobs = 1024;

// -j N, --jobs N (also -jN): threads, 1..kMaxJobs, into `jobs`.
[[nodiscard]] OptionSpec jobsOption(int& jobs);
