#include "AttitudeFilter.h"

#include <cmath>

#include "MatrixAlgebra"
#include "Quaternion.h"

namespace velmora {

using namespace algebra;

namespace {

constexpr int32_t kMaxBiasCount = 10000;
constexpr double kBiasBand = 10.0;  // degrees per second, per axis, strict
constexpr double kDegreesToRadians = 0.017453292519943295;
constexpr double kGravityMagnitude = 1.0;  // g
constexpr double kGainSpread = 0.1;        // g
constexpr double kPeakGain = 0.1;

// Gravity reference in the world frame. Built once: it never changes, and
// making it anew for every update would cost an allocation per sample.
const dVector& gravityReference() {
  static const dVector reference = MakeVector3(0.0, 0.0, -1.0);
  return reference;
}

}  // namespace

void AttitudeFilterInit(AttitudeFilter* filter) {
  filter->orientation = new Quaternion();
  filter->gyroBias[0] = 0.0;
  filter->gyroBias[1] = 0.0;
  filter->gyroBias[2] = 0.0;
  filter->biasCount = 0;
}

void AttitudeFilterRelease(AttitudeFilter* filter) {
  delete filter->orientation;
  filter->orientation = nullptr;
}

void UpdateGyroBias(AttitudeFilter* filter, double bias[3], const double gyro[3], int32_t maxCount,
                    double band) {
  const double deviation[3] = {gyro[0] - bias[0], gyro[1] - bias[1], gyro[2] - bias[2]};
  bool accepted = filter->biasCount == 0;
  if (!accepted) {
    accepted = true;
    for (const double d : deviation) {
      // Written so that a NaN deviation is rejected.
      if (!(-band < d && d < band)) {
        accepted = false;
      }
    }
  }
  if (accepted) {
    const double count = static_cast<double>(filter->biasCount);
    for (int i = 0; i < 3; ++i) {
      bias[i] = (count * bias[i] + gyro[i]) / (count + 1);
    }
  }
  if (filter->biasCount < maxCount) {
    ++filter->biasCount;
  }
}

matrix<double> AttitudeFilterUpdate(AttitudeFilter* filter, const double gyro[3],
                                    const double accel[3], const double /*aux*/[3], double dt) {
  UpdateGyroBias(filter, filter->gyroBias, gyro, kMaxBiasCount, kBiasBand);

  const double* bias = filter->gyroBias;
  const double thetaX = (gyro[0] - bias[0]) * kDegreesToRadians * dt;
  const double thetaY = (gyro[1] - bias[1]) * kDegreesToRadians * dt;
  const double thetaZ = (gyro[2] - bias[2]) * kDegreesToRadians * dt;
  const Quaternion increment(thetaX, thetaY, thetaZ);

  Quaternion& orientation = *filter->orientation;
  // The increment acts in the body frame, so it multiplies from the right.
  orientation = orientation * increment;

  // Measured gravity in the world frame.
  const Quaternion measured(0.0, accel[0], accel[1], accel[2]);
  // Named, so that its vector part is read in place rather than copied.
  const Quaternion rotated = (orientation * measured) * orientation.inverse();
  const dVector& v = rotated.get_v();

  const dVector axis = Cross(v, gravityReference());
  const double axisLength = Norm(axis);
  // A zero axis (gravity measured exactly along the reference, or a zero
  // input) has no direction to turn about; the correction angle would be 0
  // anyway, and building it would fill the orientation with NaN for good.
  if (axisLength != 0.0) {
    const double tilt = std::asin(axisLength / Norm(v));

    const double magnitude =
        std::sqrt(accel[0] * accel[0] + accel[1] * accel[1] + accel[2] * accel[2]);
    const double delta = magnitude - kGravityMagnitude;
    // Full correction at exactly 1 g, none during impacts or free fall.
    const double gain = std::exp(-delta * delta / (kGainSpread * kGainSpread)) * kPeakGain;

    const Quaternion correction(gain * tilt, axis);
    // The correction acts in the world frame, so it multiplies from the left.
    orientation = correction * orientation;
  }
  return orientation.rotation_matrix();
}

}  // namespace velmora
