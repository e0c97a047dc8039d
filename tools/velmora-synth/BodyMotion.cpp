#include "BodyMotion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using Mat3 = std::array<std::array<double, 3>, 3>;

Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 product{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      for (int k = 0; k < 3; ++k) {
        product[row][col] += a[row][k] * b[k][col];
      }
    }
  }
  return product;
}

// transpose(m) * v: a world vector expressed in the frame whose axes are
// the columns of m.
Vec3 intoFrame(const Mat3& m, const Vec3& v) {
  return {m[0][0] * v.x + m[1][0] * v.y + m[2][0] * v.z,
          m[0][1] * v.x + m[1][1] * v.y + m[2][1] * v.z,
          m[0][2] * v.x + m[1][2] * v.y + m[2][2] * v.z};
}

// Columns: the sensor's x, y, z axes in the body frame (forward, left, up).
constexpr Mat3 kSensorInBody = {{{0.0, 0.0, 1.0}, {-1.0, 0.0, 0.0}, {0.0, -1.0, 0.0}}};

// Sensor axes in the world frame for a pose.
Mat3 sensorAxes(const Pose& pose) {
  const double ch = std::cos(pose.heading);
  const double sh = std::sin(pose.heading);
  const double cl = std::cos(pose.lean);
  const double sl = std::sin(pose.lean);
  const double ct = std::cos(pose.tilt);
  const double st = std::sin(pose.tilt);
  const Mat3 heading = {{{ch, -sh, 0.0}, {sh, ch, 0.0}, {0.0, 0.0, 1.0}}};
  const Mat3 lean = {{{cl, 0.0, sl}, {0.0, 1.0, 0.0}, {-sl, 0.0, cl}}};
  const Mat3 tilt = {{{1.0, 0.0, 0.0}, {0.0, ct, -st}, {0.0, st, ct}}};
  return multiply(multiply(multiply(heading, lean), tilt), kSensorInBody);
}

// Angular rate in the sensor frame (deg/s) from the change of the sensor
// axes: R^T dR/dt is the skew matrix of the body-frame rate.
Vec3 angularRate(const MotionFunction& motion, double t) {
  constexpr double kStep = 1e-4;
  const Mat3 before = sensorAxes(motion(t - kStep).pose);
  const Mat3 now = sensorAxes(motion(t).pose);
  const Mat3 after = sensorAxes(motion(t + kStep).pose);
  Mat3 change{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      change[row][col] = (after[row][col] - before[row][col]) / (2.0 * kStep);
    }
  }
  Mat3 skew{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      for (int k = 0; k < 3; ++k) {
        skew[row][col] += now[k][row] * change[k][col];
      }
    }
  }
  constexpr double kDegrees = 180.0 / std::numbers::pi;
  return {0.5 * (skew[2][1] - skew[1][2]) * kDegrees, 0.5 * (skew[0][2] - skew[2][0]) * kDegrees,
          0.5 * (skew[1][0] - skew[0][1]) * kDegrees};
}

int16_t toCount(double value) {
  const double rounded = std::nearbyint(std::clamp(value, -32768.0, 32767.0));
  return static_cast<int16_t>(rounded);
}

}  // namespace

uint64_t NoiseSource::nextBits() {
  state_ += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double NoiseSource::uniform() {
  // The top 53 bits give every double in [0, 1) with a 2^-53 step.
  return static_cast<double>(nextBits() >> 11) * 0x1.0p-53;
}

double NoiseSource::normal(double spread) {
  // The sum of four uniforms has mean 2 and variance 4/12.
  const double sum = uniform() + uniform() + uniform() + uniform();
  return (sum - 2.0) * std::sqrt(3.0) * spread;
}

std::vector<SynthSample> sampleMotion(const MotionFunction& motion, double seconds,
                                      const SensorNoise& noiseLevels, NoiseSource& noise) {
  constexpr int kReadingsPerSample = 4;
  const auto count = static_cast<std::size_t>(std::max(0.0, std::floor(seconds * kSampleRate)));
  std::vector<SynthSample> samples;
  samples.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    Vec3 acc;
    Vec3 gyro;
    for (int reading = 0; reading < kReadingsPerSample; ++reading) {
      const double t =
          (static_cast<double>(index) + static_cast<double>(reading) / kReadingsPerSample) /
          kSampleRate;
      const BodyState state = motion(t);
      // The accelerometer measures acceleration minus gravity: +1 g up.
      const Vec3 specificForce = {state.acceleration.x, state.acceleration.y,
                                  state.acceleration.z + 1.0};
      const Vec3 accInSensor = intoFrame(sensorAxes(state.pose), specificForce);
      const Vec3 rate = angularRate(motion, t);
      acc = {acc.x + accInSensor.x, acc.y + accInSensor.y, acc.z + accInSensor.z};
      gyro = {gyro.x + rate.x, gyro.y + rate.y, gyro.z + rate.z};
    }
    const double accScale = kAccCountsPerG / kReadingsPerSample;
    const double gyroScale = kGyroCountsPerDps / kReadingsPerSample;
    const std::array<double, 6> values = {
        acc.x * accScale + noise.normal(noiseLevels.accSpread) * kAccCountsPerG,
        acc.y * accScale + noise.normal(noiseLevels.accSpread) * kAccCountsPerG,
        acc.z * accScale + noise.normal(noiseLevels.accSpread) * kAccCountsPerG,
        gyro.x * gyroScale +
            (noiseLevels.gyroOffset.x + noise.normal(noiseLevels.gyroSpread)) * kGyroCountsPerDps,
        gyro.y * gyroScale +
            (noiseLevels.gyroOffset.y + noise.normal(noiseLevels.gyroSpread)) * kGyroCountsPerDps,
        gyro.z * gyroScale +
            (noiseLevels.gyroOffset.z + noise.normal(noiseLevels.gyroSpread)) * kGyroCountsPerDps};
    SynthSample sample;
    for (std::size_t axis = 0; axis < values.size(); ++axis) {
      sample.counts[axis] = toCount(values[axis]);
    }
    sample.accMagnitude =
        std::sqrt(values[0] * values[0] + values[1] * values[1] + values[2] * values[2]);
    samples.push_back(sample);
  }
  return samples;
}
