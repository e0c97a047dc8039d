// The optional annotation file of a recording: its first line holds at
// least three comma-separated fields, the second the annotated fall position
// (a sample index) and the third a flag that asks for the delay message.
#pragma once

#include <cstdint>

// Returns 0 on success, -1 when the file cannot be read, -2 when its first
// line does not hold three fields. Both values are 0 after any failure.
int32_t ReadInfoFile(const char* path, int32_t* fallPosition, int32_t* fallFlag);
