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

struct RawParseResult {
  std::vector<RawSample> samples;
  std::string error;  // "line N: ..." when the text is malformed, else empty
};

// Reads raw SisFall text: one sample per line, nine comma-separated
// integers (blanks around them allowed) and a closing ';'. Blank lines are
// skipped; line ends may be LF or CR LF.
[[nodiscard]] RawParseResult parseSisfallText(std::string_view text);

struct ConvertedRecording {
  std::vector<std::array<int16_t, 6>> samples;
  std::size_t droppedRawSamples = 0;  // trailing raw samples short of a group of four
  int64_t impactSample = 0;           // first sample with the largest |acc| before clamping
  double impactG = 0.0;               // that magnitude, in g
  int64_t clampedAccValues = 0;       // acceleration values that hit the 16-bit limits
  int64_t clampedGyroValues = 0;      // angular-rate values that did
};

// Averages each group of four raw samples, rescales and clamps to the
// signed 16-bit range.
[[nodiscard]] ConvertedRecording convertSisfall(const std::vector<RawSample>& raw);

// The whole recording file: seven header lines, then index,ax,ay,az,gx,gy,gz.
[[nodiscard]] std::string formatRecording(const SisfallName& name, std::string_view sourceName,
                                          std::size_t rawSampleCount,
                                          const ConvertedRecording& recording);

// The info file of a fall: "<stem>,<impact sample>,1".
[[nodiscard]] std::string formatInfo(const SisfallName& name, const ConvertedRecording& recording);
