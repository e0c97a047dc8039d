// Grouping recordings by a regular expression over their file names.
#pragma once

#include <string>
#include <vector>

#include "EvalRun.h"

// Names each result's group after the first capture group of `pattern`
// (ECMAScript) searched in its file name; an empty or absent capture leaves
// the group empty. Returns an error message for a pattern that does not
// compile, has no capture group or fails on a name; "" on success.
[[nodiscard]] std::string assignGroups(const std::string& pattern,
                                       std::vector<RecordingResult>& results);
