// Attitude filter: integrates bias-corrected angular rates into an
// orientation quaternion and pulls it toward the measured gravity direction.
#pragma once

#include <cstdint>

#include "AttitudeState.h"
#include "matrix.h"

namespace velmora {

void AttitudeFilterInit(AttitudeFilter* filter);
// Frees the orientation quaternion; safe to call on a released filter.
void AttitudeFilterRelease(AttitudeFilter* filter);

// Gated running mean of the gyroscope offset: a reading within +-band of the
// current bias on every axis (or the very first reading) is averaged in.
void UpdateGyroBias(AttitudeFilter* filter, double bias[3], const double gyro[3], int32_t maxCount,
                    double band);

// One filter step. gyro in degrees per second, accel in g, dt in seconds;
// aux is not read. Returns the rotation matrix of the new orientation.
velmora::algebra::matrix<double> AttitudeFilterUpdate(AttitudeFilter* filter, const double gyro[3],
                                                      const double accel[3], const double aux[3],
                                                      double dt);

}  // namespace velmora
