// Writing recordings in the format RecordingReader reads: seven header
// lines, then one "index,ax,ay,az,gx,gy,gz" line per sample, index from 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Velmora.h"

// Appends one data line, ended by lineEnd.
void appendSampleLine(std::string& text, int64_t index, const SampleRecord& sample,
                      std::string_view lineEnd = "\n");

// The whole text of a recording. `headerLines` are the seven header lines
// without their line ends; throws std::invalid_argument for another count or
// a line holding a line break (the reader would then miscount the header).
[[nodiscard]] std::string formatRecording(const std::vector<std::string>& headerLines,
                                          std::span<const SampleRecord> samples,
                                          std::string_view lineEnd = "\n");
