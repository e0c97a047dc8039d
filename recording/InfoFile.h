// The optional annotation file of a recording: its first line holds at
// least three comma-separated fields, the second the annotated fall position
// (a sample index) and the third a flag that asks for the delay message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Drovik's reading: leading digits of each field, 0 without any.
// Returns 0 on success, -1 when the file cannot be read, -2 when its first
// line does not hold three fields. Both values are 0 after any failure.
int32_t ReadInfoFile(const char* path, int32_t* fallPosition, int32_t* fallFlag);

// The annotation of a recording as the evaluation, the tuner and the Python
// module read it.
struct InfoAnnotation {
  std::string name;      // the first field, which names the recording
  int32_t fallPosition = 0;
  int32_t fallFlag = 0;  // Drovik's delay-message flag
  std::string problem;   // why the info file cannot be used; empty when it can
};

// Reads an info file strictly, unlike Drovik (which takes whatever leading
// digits a field has, and 0 without any): the file must be a regular file
// (a FIFO or device is refused, not waited on) whose first line holds at
// least three comma-separated fields, split as Drovik splits them; the
// second (the fall position) and the third (the flag) must each be a
// decimal integer that fits in 32 bits and nothing else (no blanks, no
// quotes, no '+'), and the position must not be negative. The problem names
// the file and what is wrong with it.
[[nodiscard]] InfoAnnotation readInfoFileStrict(const std::string& infoPath);

// The one line an importer or velmora-synth writes: "<name>,<position>,1\n"
// (flag 1: the delay message is wanted).
[[nodiscard]] std::string formatInfoFile(std::string_view name, int64_t fallPosition);
