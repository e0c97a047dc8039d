// The record in which the attitude filter keeps its estimate. Part of every
// DetectorContext, hence public; the filter's operations are not.
#pragma once

#include <cstdint>

namespace velmora::algebra {
class Quaternion;
}

struct AttitudeFilter {
  // Maps body-frame vectors to the world frame. Heap-allocated by the
  // detector's set-up, released by its close; null once released.
  velmora::algebra::Quaternion* orientation;
  double gyroBias[3];  // degrees per second
  int32_t biasCount;   // updates seen by the bias estimate, capped at 10000
};
