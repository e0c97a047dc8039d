#include "SisfallImport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ImportText.h"
#include "RecordingWriter.h"
#include "Velmora.h"

namespace {

constexpr int kColumns = 9;
constexpr std::size_t kGroup = 4;  // 200 -> 50 samples per second
// The sensors deliver 13 and 16 bits; anything far beyond is not a sensor
// count. The limit also keeps every sum and squared magnitude well inside
// 64 bits.
constexpr int32_t kRawLimit = 1 << 24;

// Scale factors from a raw count to an output count. Acceleration: 8192 /
// 256 = 32. Angular rate: 65.536 / (65536 / 4000) = 4. Both are whole
// numbers, so the mean of four raw values times the factor is an exact
// multiple of 1/4 before rounding (and, with these factors, a whole number).
constexpr int64_t kAccScale = 32;
constexpr int64_t kGyroScale = 4;

// round(sum / 4 * scale), halves away from zero, in exact integer arithmetic.
int64_t scaledMean(int64_t sum, int64_t scale) {
  const int64_t scaled = sum * scale;
  const int64_t half = static_cast<int64_t>(kGroup / 2);
  const auto group = static_cast<int64_t>(kGroup);
  return scaled >= 0 ? (scaled + half) / group : -((-scaled + half) / group);
}

int16_t clampToInt16(int64_t value, int64_t& clampedCount) {
  if (value > std::numeric_limits<int16_t>::max() || value < std::numeric_limits<int16_t>::min()) {
    ++clampedCount;
  }
  return static_cast<int16_t>(std::clamp<int64_t>(value, std::numeric_limits<int16_t>::min(),
                                                  std::numeric_limits<int16_t>::max()));
}

// Parses one non-blank line; returns an error text without the line number.
std::string parseLine(std::string_view line, RawSample& sample) {
  std::size_t pos = 0;
  for (int column = 1; column <= kColumns; ++column) {
    while (pos < line.size() && isBlank(line[pos])) {
      ++pos;
    }
    int32_t value = 0;
    const char* begin = line.data() + pos;
    const char* end = line.data() + line.size();
    // from_chars takes no '+'; SisFall writes none, and a sign-less field
    // with '+' is reported as malformed rather than guessed at.
    const auto [next, error] = std::from_chars(begin, end, value);
    if (error == std::errc::result_out_of_range ||
        (error == std::errc() && (value > kRawLimit || value < -kRawLimit))) {
      return "column " + std::to_string(column) + ": expected a sensor count within +-" +
             std::to_string(kRawLimit) + ", found " + quotedExcerpt(line.substr(pos), 20);
    }
    if (error != std::errc()) {
      return "column " + std::to_string(column) + ": expected an integer, found " +
             (pos < line.size() ? quotedExcerpt(line.substr(pos), 20) : std::string("the end of the line"));
    }
    pos = static_cast<std::size_t>(next - line.data());
    if (column <= 6) {
      sample[static_cast<std::size_t>(column - 1)] = value;
    }
    while (pos < line.size() && isBlank(line[pos])) {
      ++pos;
    }
    const char expected = column < kColumns ? ',' : ';';
    if (pos >= line.size() || line[pos] != expected) {
      const std::string found =
          pos < line.size() ? quotedExcerpt(line.substr(pos), 20) : std::string("the end of the line");
      if (column < kColumns) {
        return "expected ',' after column " + std::to_string(column) +
               " (nine integers ending in "
               "';'), found " +
               found;
      }
      return "expected ';' after column 9, found " + found;
    }
    ++pos;
  }
  while (pos < line.size() && isBlank(line[pos])) {
    ++pos;
  }
  if (pos < line.size()) {
    return "unexpected text after ';': " + quotedExcerpt(line.substr(pos), 20);
  }
  return {};
}

std::string formatG(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

std::optional<SisfallName> parseSisfallName(std::string_view fileName) {
  constexpr std::string_view kExtension = ".txt";
  if (fileName.size() <= kExtension.size() || !fileName.ends_with(kExtension)) {
    return std::nullopt;
  }
  SisfallName name;
  name.stem = std::string(fileName.substr(0, fileName.size() - kExtension.size()));
  const std::size_t first = name.stem.find('_');
  const std::size_t second =
      first == std::string::npos ? std::string::npos : name.stem.find('_', first + 1);
  if (second == std::string::npos || name.stem.find('_', second + 1) != std::string::npos) {
    return std::nullopt;
  }
  name.activity = name.stem.substr(0, first);
  name.subject = name.stem.substr(first + 1, second - first - 1);
  name.trial = name.stem.substr(second + 1);
  if (name.activity.size() < 2 || name.subject.empty() || name.trial.empty() ||
      (name.activity[0] != 'F' && name.activity[0] != 'D')) {
    return std::nullopt;
  }
  name.fall = name.activity[0] == 'F';
  return name;
}

std::string parseSisfallLine(std::string_view line, RawSample& sample, bool& blank) {
  blank = std::all_of(line.begin(), line.end(), isBlank);
  if (blank) {
    return {};
  }
  return parseLine(line, sample);
}

ConvertedRecording convertSisfall(const std::vector<RawSample>& raw) {
  ConvertedRecording recording;
  const std::size_t groups = raw.size() / kGroup;
  recording.droppedRawSamples = raw.size() - groups * kGroup;
  recording.samples.reserve(groups);
  int64_t largestSquare = -1;
  for (std::size_t group = 0; group < groups; ++group) {
    std::array<int64_t, 6> sums{};
    for (std::size_t i = 0; i < kGroup; ++i) {
      for (std::size_t axis = 0; axis < 6; ++axis) {
        sums[axis] += raw[group * kGroup + i][axis];
      }
    }
    std::array<int64_t, 6> scaled{};
    for (std::size_t axis = 0; axis < 6; ++axis) {
      scaled[axis] = scaledMean(sums[axis], axis < 3 ? kAccScale : kGyroScale);
    }
    // Squared magnitude in whole counts: exact, so ties are found exactly
    // and the first of them is kept.
    const int64_t square = scaled[0] * scaled[0] + scaled[1] * scaled[1] + scaled[2] * scaled[2];
    if (square > largestSquare) {
      largestSquare = square;
      recording.impactSample = static_cast<int64_t>(group);
    }
    SampleRecord sample{};
    for (std::size_t axis = 0; axis < 6; ++axis) {
      sample.*kSampleFields[axis] = clampToInt16(
          scaled[axis], axis < 3 ? recording.clampedAccValues : recording.clampedGyroValues);
    }
    recording.samples.push_back(sample);
  }
  if (largestSquare > 0) {
    recording.impactG = std::sqrt(static_cast<double>(largestSquare)) / kVelmoraCountsPerG;
  }
  return recording;
}

ImportedRecording buildSisfallRecording(const SisfallName& name, std::string_view sourceName,
                                        std::size_t rawSampleCount,
                                        ConvertedRecording&& recording) {
  const std::size_t count = recording.samples.size();
  ImportedRecording out;
  out.name = name.stem;
  out.header[0] =
      "SisFall recording imported by velmora-import | source: " + std::string(sourceName) +
      " (SisFall dataset, Sucerquia, Lopez, Vargas-Bonilla, Universidad de Antioquia)";
  out.header[1] = "activity: " + name.activity + (name.fall ? " (fall)" : " (daily living)");
  out.header[2] = "subject: " + name.subject + " | trial: " + name.trial;
  char original[200];
  std::snprintf(original, sizeof original,
                "original: 200 samples/s, %zu samples (%.2f s); accelerometer 256 counts/g; "
                "gyroscope 65536/4000 counts per deg/s; second accelerometer ignored",
                rawSampleCount, static_cast<double>(rawSampleCount) / 200.0);
  out.header[3] = original;
  out.header[4] =
      "conversion: 200 -> 50 samples/s by the mean of each 4 consecutive samples (trailing " +
      std::to_string(recording.droppedRawSamples) +
      " dropped); acc x32, gyro x4, rounded to nearest; clamped to int16 (acc " +
      std::to_string(recording.clampedAccValues) + ", gyro " +
      std::to_string(recording.clampedGyroValues) + " values)";
  out.header[5] = recordingFormatText(static_cast<int64_t>(count)) +
                  "; axes as recorded (upright: y about -1 g)";
  if (name.fall && count > 0) {
    out.header[5] += "; impact estimate (largest |acc| before clamping, not annotated) at sample " +
                     std::to_string(recording.impactSample) + ", " + formatG(recording.impactG) +
                     " g";
    out.fallPosition = recording.impactSample;
  }
  for (std::string& line : out.header) {
    line = headerLine(line);
  }
  out.row = {name.stem + ".csv",          "SisFall",       name.activity,
             name.fall ? "fall" : "adl",  name.subject,    name.trial,
             static_cast<int64_t>(count), out.fallPosition};
  out.note = std::to_string(count) + " samples";
  if (out.fallPosition) {
    out.note += ", impact estimate at sample " + std::to_string(*out.fallPosition);
  }
  out.samples = std::move(recording.samples);
  return out;
}
