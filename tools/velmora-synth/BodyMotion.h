// A waist-worn sensor on a moving body: turns the body's orientation and
// the sensor's acceleration over time into raw accelerometer and gyroscope
// counts at 50 samples per second.
//
// World frame: x forward (the walking direction), y to the wearer's left,
// z up. Sensor frame, as the detector expects it: y points to the feet
// (standing upright reads about -1 g on y), z points out of the belly
// (lying face down reads -1 g on z, on the back +1 g), x to the right.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "Velmora.h"

struct Vec3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// Orientation of the trunk, radians. Applied as heading, then lean, then
// tilt, starting from upright and facing forward.
struct Pose {
  double lean = 0.0;     // forward bend; +pi/2 is lying face down
  double tilt = 0.0;     // sideways bend; +pi/2 is lying on the right side
  double heading = 0.0;  // turn to the left about the vertical
};

struct BodyState {
  Pose pose;
  Vec3 acceleration;  // of the sensor, world frame, in g (gravity excluded)
};

using MotionFunction = std::function<BodyState(double seconds)>;

// The recording format's rate and count scales (Velmora.h).
inline constexpr double kSampleRate = kVelmoraSamplesPerSecond;
inline constexpr double kAccCountsPerG = kVelmoraCountsPerG;
inline constexpr double kGyroCountsPerDps = kVelmoraCountsPerDps;

// Deterministic random numbers from a 64-bit seed (splitmix64), identical
// on every platform: no library distribution is involved.
class NoiseSource {
 public:
  explicit NoiseSource(uint64_t seed) : state_(seed) {}
  [[nodiscard]] uint64_t nextBits();
  // Uniform in [0, 1).
  [[nodiscard]] double uniform();
  // Roughly normal with mean 0 and the given spread (sum of four uniforms,
  // which stays within about +-3.5 spreads).
  [[nodiscard]] double normal(double spread);

 private:
  uint64_t state_;
};

struct SensorNoise {
  double accSpread = 0.0;   // g
  double gyroSpread = 0.0;  // deg/s
  Vec3 gyroOffset;          // constant gyroscope offset, deg/s
};

// One output sample: the six counts as they are written, and the
// acceleration magnitude in counts before they were clamped.
struct SynthSample {
  std::array<int16_t, 6> counts{};
  double accMagnitude = 0.0;
};

// Samples `motion` from 0 to `seconds`. Each output sample is the mean of
// four readings 5 ms apart, as a sensor with a simple anti-alias filter
// delivers it; noise is added, values are rounded to the nearest count and
// clamped to the signed 16-bit range (+-4 g, +-500 deg/s).
[[nodiscard]] std::vector<SynthSample> sampleMotion(const MotionFunction& motion, double seconds,
                                                    const SensorNoise& noiseLevels,
                                                    NoiseSource& noise);
