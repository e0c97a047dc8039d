// Writing recordings in the format RecordingReader reads: seven header
// lines, then one "index,ax,ay,az,gx,gy,gz" line per sample, index from 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Velmora.h"

// The six values of a sample by index: ax, ay, az, gx, gy, gz.
inline constexpr int16_t SampleRecord::*kSampleFields[6] = {&SampleRecord::ax, &SampleRecord::ay,
                                                            &SampleRecord::az, &SampleRecord::gx,
                                                            &SampleRecord::gy, &SampleRecord::gz};

// Whether two samples hold the same six values.
[[nodiscard]] constexpr bool sameSample(const SampleRecord& a, const SampleRecord& b) {
  return a.ax == b.ax && a.ay == b.ay && a.az == b.az && a.gx == b.gx && a.gy == b.gy &&
         a.gz == b.gz;
}

// The header text that states the format of `samples` samples, from the
// detector's constants: "format: 50 samples/s, <samples> samples; acc 8192
// counts/g (+-4 g), gyro 65.536 counts per deg/s (+-500 deg/s)". Every
// writer of recordings adds its own words after it.
[[nodiscard]] std::string recordingFormatText(int64_t samples);

// Appends one data line, ended by lineEnd.
void appendSampleLine(std::string& text, int64_t index, const SampleRecord& sample,
                      std::string_view lineEnd = "\n");

// The header of a recording: the seven lines, each ended by lineEnd; throws
// std::invalid_argument as formatRecording() does.
[[nodiscard]] std::string formatRecordingHeader(const std::vector<std::string>& headerLines,
                                                std::string_view lineEnd = "\n");

// The whole text of a recording. `headerLines` are the seven header lines
// without their line ends; throws std::invalid_argument for another count or
// a line holding a line break (the reader would then miscount the header).
[[nodiscard]] std::string formatRecording(const std::vector<std::string>& headerLines,
                                          std::span<const SampleRecord> samples,
                                          std::string_view lineEnd = "\n");
