// Attitude filter: integrates bias-corrected angular rates into an
// orientation quaternion and pulls it toward the measured gravity direction.
#pragma once

#include <cstdint>

#include "matrix.h"

class Quaternion;

struct AttitudeFilter {
  // Maps body-frame vectors to the world frame. Heap-allocated by
  // AttitudeFilterInit, released by AttitudeFilterRelease.
  Quaternion* orientation;
  double gyroBias[3];  // degrees per second
  int32_t biasCount;   // updates seen by the bias estimate, capped at 10000
};

void AttitudeFilterInit(AttitudeFilter* filter);
// Frees the orientation quaternion; safe to call on a released filter.
void AttitudeFilterRelease(AttitudeFilter* filter);

// Gated running mean of the gyroscope offset: a reading within +-band of the
// current bias on every axis (or the very first reading) is averaged in.
void UpdateGyroBias(AttitudeFilter* filter, double bias[3], const double gyro[3], int32_t maxCount,
                    double band);

// One filter step. gyro in degrees per second, accel in g, dt in seconds;
// aux is not read. Returns the rotation matrix of the new orientation.
matrix<double> AttitudeFilterUpdate(AttitudeFilter* filter, const double gyro[3],
                                    const double accel[3], const double aux[3], double dt);
