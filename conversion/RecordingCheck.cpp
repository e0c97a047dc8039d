#include "RecordingCheck.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "ImportText.h"
#include "RecordingWriter.h"
#include "Velmora.h"

namespace {

constexpr std::size_t kSecond = kVelmoraSamplesPerSecond;  // one second of samples
constexpr double kMovingDps = 10.0;                 // faster turning than this counts as moving
constexpr double kQuietDps = 80.0;  // no second of a recording turns faster throughout

double gyroMagnitude(const SampleRecord& sample) {
  const double gx = sample.gx / kVelmoraCountsPerDps;
  const double gy = sample.gy / kVelmoraCountsPerDps;
  const double gz = sample.gz / kVelmoraCountsPerDps;
  return std::sqrt(gx * gx + gy * gy + gz * gz);
}

// "+x", "-y" ...: the axis with the largest share of the vector.
std::string dominantAxis(const std::array<double, 3>& v) {
  std::size_t axis = 0;
  for (std::size_t i = 1; i < 3; ++i) {
    axis = std::fabs(v[i]) > std::fabs(v[axis]) ? i : axis;
  }
  return std::string(v[axis] < 0 ? "-" : "+") + "xyz"[axis];
}

// The --axes mapping that turns the recording's axes so that gravity, read
// along `axis` ("+x", "-z", ...), reads along -y, as upright does. It is a
// rotation (the third axis follows with the sign that keeps the frame
// right-handed), so the same mapping serves the gyroscope.
std::string axesFixing(const std::string& axis) {
  const char sign = axis[0] == '-' ? '+' : '-';  // y takes the source axis, negated if it read +
  const char other = sign == '+' ? '-' : '+';
  switch (axis[1]) {
    case 'x':
      return std::string("x=") + other + "y,y=" + sign + "x,z=+z";
    case 'z':
      return std::string("x=+x,y=") + sign + "z,z=" + other + "y";
    default:  // +y: upside down, a half turn about z
      return "x=-x,y=-y,z=+z";
  }
}

std::string vectorText(const std::array<double, 3>& v) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.2f, %.2f, %.2f)", v[0], v[1], v[2]);
  return text;
}

}  // namespace

RecordingCheck checkRecording(std::span<const SampleRecord> samples) {
  RecordingCheck check;
  const std::size_t n = samples.size();
  check.lines.push_back(std::to_string(n) + " samples, " +
                        formatValue("%.2f", static_cast<double>(n) / kVelmoraSamplesPerSecond) +
                        " s at 50 samples/s");
  const auto warn = [&check](const std::string& text) {
    check.warnings.push_back(text);
    check.lines.push_back("warning: " + text);
  };
  if (n < kSecond) {
    warn(
        "shorter than one second: too short to judge, and the detector needs 40 samples to "
        "warm up");
    return check;
  }
  // Where the wearer stands is judged before the largest acceleration: in a
  // fall recording the stillest second overall is the lying after impact.
  std::size_t peak = 0;
  int64_t peakSquare = -1;
  for (std::size_t i = 0; i < n; ++i) {
    const int64_t square = int64_t{samples[i].ax} * samples[i].ax +
                           int64_t{samples[i].ay} * samples[i].ay +
                           int64_t{samples[i].az} * samples[i].az;
    if (square > peakSquare) {
      peakSquare = square;
      peak = i;
    }
  }
  const std::size_t searched = peak >= 2 * kSecond ? peak - kSecond / 2 : n;
  // The stillest second: the 50-sample window with the least spread of the
  // acceleration (sum of the three axes' variances), the first of equals.
  std::array<double, 3> sum{};
  std::array<double, 3> squares{};
  const auto add = [&](std::size_t i, double weight) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
      const double v = samples[i].*kSampleFields[axis];
      sum[axis] += weight * v;
      squares[axis] += weight * v * v;
    }
  };
  double bestSpread = std::numeric_limits<double>::infinity();
  std::size_t bestStart = 0;
  for (std::size_t i = 0; i < searched; ++i) {
    add(i, 1.0);
    if (i >= kSecond) {
      add(i - kSecond, -1.0);
    }
    if (i + 1 >= kSecond) {
      double spread = 0.0;
      for (std::size_t axis = 0; axis < 3; ++axis) {
        const double mean = sum[axis] / kSecond;
        spread += squares[axis] / kSecond - mean * mean;
      }
      if (spread < bestSpread - 1e-6) {
        bestSpread = spread;
        bestStart = i + 1 - kSecond;
      }
    }
  }
  std::array<double, 3> still{};
  double gyro = 0.0;
  for (std::size_t i = bestStart; i < bestStart + kSecond; ++i) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
      still[axis] += samples[i].*kSampleFields[axis] / kVelmoraCountsPerG / kSecond;
    }
    gyro += gyroMagnitude(samples[i]) / kSecond;
  }
  const double magnitude =
      std::sqrt(still[0] * still[0] + still[1] * still[1] + still[2] * still[2]);
  check.lines.push_back(
      "stillest second" +
      (searched < n ? " before the largest acceleration (sample " + std::to_string(peak) + ")"
                    : std::string()) +
      ": samples " + std::to_string(bestStart) + "-" + std::to_string(bestStart + kSecond - 1) +
      ", mean acc (x, y, z) = " + vectorText(still) + " g, |acc| " + formatValue("%.2f", magnitude) +
      " g, |gyro| " + formatValue("%.1f", gyro) + " deg/s");
  std::array<double, 3> overall{};
  std::array<int64_t, 6> clamped{};
  int64_t repeats = 0;
  int64_t moving = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t axis = 0; axis < 6; ++axis) {
      const int16_t v = samples[i].*kSampleFields[axis];
      clamped[axis] +=
          v == std::numeric_limits<int16_t>::max() || v == std::numeric_limits<int16_t>::min() ? 1
                                                                                               : 0;
      if (axis < 3) {
        overall[axis] += v / kVelmoraCountsPerG / static_cast<double>(n);
      }
    }
    // A source slower than 50 samples/s, stretched by repeating samples,
    // shows as repeats while the wearer moves (a still sensor may repeat).
    if (i > 0 && gyroMagnitude(samples[i]) > kMovingDps) {
      ++moving;
      repeats += sameSample(samples[i], samples[i - 1]) ? 1 : 0;
    }
  }
  static constexpr const char* kNames[] = {"ax", "ay", "az", "gx", "gy", "gz"};
  // Values at the 16-bit limits: a sensor at the end of its range (saturated)
  // or a conversion that clamped; the importer counts only the latter.
  std::string clampText = "at full scale:";
  double worstClamp = 0.0;
  for (std::size_t axis = 0; axis < 6; ++axis) {
    const double share = 100.0 * static_cast<double>(clamped[axis]) / static_cast<double>(n);
    worstClamp = std::max(worstClamp, share);
    clampText +=
        std::string(axis > 0 ? "," : "") + " " + kNames[axis] + " " + formatValue("%.1f", share) + " %";
  }
  check.lines.push_back(clampText);
  check.lines.push_back("mean acc over the whole recording: " + vectorText(overall) + " g");

  if (magnitude < 0.85 || magnitude > 1.15) {
    warn("scale: the stillest second reads " + formatValue("%.2f", magnitude) +
         " g, far from 1 g; check the acceleration unit (--acc-unit)");
  }
  const std::string stillAxis = dominantAxis(still);
  const std::string overallAxis = dominantAxis(overall);
  if (stillAxis != "-y") {
    warn("orientation: gravity lies along " + stillAxis + " in the stillest second (along " +
         overallAxis +
         " on average over the whole recording), where upright reads -y; unless the wearer "
         "was lying or bent then, import again with --axes " +
         axesFixing(stillAxis) + " (from the axes this recording has now)");
  }
  // The quietest second of the gyroscope: even a busy recording has one
  // slower than this, unless the unit is wrong.
  double quietestGyro = std::numeric_limits<double>::infinity();
  double window = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    window += gyroMagnitude(samples[i]);
    if (i >= kSecond) {
      window -= gyroMagnitude(samples[i - kSecond]);
    }
    if (i + 1 >= kSecond) {
      quietestGyro = std::min(quietestGyro, window / kSecond);
    }
  }
  // A fall or a brisk movement turns the body: a gyroscope that never
  // passes 50 deg/s while the acceleration passes 2 g reads too small.
  double fastestGyro = 0.0;
  for (const auto& sample : samples) {
    fastestGyro = std::max(fastestGyro, gyroMagnitude(sample));
  }
  const double peakG = std::sqrt(static_cast<double>(peakSquare)) / kVelmoraCountsPerG;
  if (peakG > 2.0 && fastestGyro < 50.0) {
    warn("angular rate: never above " + formatValue("%.1f", fastestGyro) +
         " deg/s while the acceleration reaches " + formatValue("%.1f", peakG) +
         " g; check the gyroscope unit (--gyro-unit: rad/s read as deg/s?)");
  }
  if (quietestGyro > kQuietDps) {
    warn("angular rate: even the quietest second turns at " + formatValue("%.1f", quietestGyro) +
         " deg/s on average; check the gyroscope unit (--gyro-unit)");
  }
  const double repeatShare =
      moving > 0 ? 100.0 * static_cast<double>(repeats) / static_cast<double>(moving) : 0.0;
  if (moving >= static_cast<int64_t>(kSecond) && repeatShare > 10.0) {
    warn("rate: " + formatValue("%.0f", repeatShare) +
         " % of the samples in motion repeat the one before; the source may run slower than 50 "
         "samples/s, or its rate or time unit was given wrong");
  }
  if (worstClamp > 1.0) {
    warn("full scale: up to " + formatValue("%.1f", worstClamp) +
         " % of an axis's samples sit at the 16-bit limits (a saturated sensor, or values the "
         "conversion clamped); check the units, or expect lost impact peaks");
  }
  if (check.warnings.empty()) {
    check.lines.push_back("looks right: about 1 g along -y when still");
  }
  return check;
}
