// Conversion of SisFall raw recordings (200 samples/s, accelerometer at
// 256 counts per g, gyroscope at 65536/4000 counts per deg/s) into our
// recording format (50 samples/s, 8192 counts per g, 65.536 counts per
// deg/s).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ImportedRecording.h"

// What a SisFall file name says: <ACTIVITY>_<SUBJECT>_<TRIAL>.txt, the
// activity starting with F for a fall and D for daily living.
struct SisfallName {
  std::string stem;  // the name without ".txt"
  std::string activity;
  std::string subject;
  std::string trial;
  bool fall = false;
};

// Empty when the file name does not follow the pattern.
[[nodiscard]] std::optional<SisfallName> parseSisfallName(std::string_view fileName);

// The first six of the nine columns of one raw line: acceleration x, y, z,
// then angular rate x, y, z.
using RawSample = std::array<int32_t, 6>;

// Reads one line of raw SisFall text: nine comma-separated integers
// (blanks around them allowed) and a closing ';'. A blank line sets
// `blank` and leaves `sample` alone. Returns an error text without the
// line number, or "".
[[nodiscard]] std::string parseSisfallLine(std::string_view line, RawSample& sample, bool& blank);

struct ConvertedRecording {
  std::vector<SampleRecord> samples;
  std::size_t droppedRawSamples = 0;  // trailing raw samples short of a group of four
  int64_t impactSample = 0;           // first sample with the largest |acc| before clamping
  double impactG = 0.0;               // that magnitude, in g
  int64_t clampedAccValues = 0;       // acceleration values that hit the 16-bit limits
  int64_t clampedGyroValues = 0;      // angular-rate values that did
};

// Averages each group of four raw samples, rescales and clamps to the
// signed 16-bit range.
[[nodiscard]] ConvertedRecording convertSisfall(const std::vector<RawSample>& raw);

// The recording with its header lines and index row.
[[nodiscard]] ImportedRecording buildSisfallRecording(const SisfallName& name,
                                                      std::string_view sourceName,
                                                      std::size_t rawSampleCount,
                                                      ConvertedRecording&& recording);
