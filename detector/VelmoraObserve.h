// Per-sample values of the detector for tools that plot or study a
// recording. VelmoraProcessInspect behaves exactly like VelmoraProcess and
// also reports the features it computed for the sample.
#pragma once

#include <cstdint>

#include "Velmora.h"

struct SampleInspection {
  int32_t accMag;      // smoothed acceleration magnitude, hundredths of g
  int32_t rawAccMag;   // raw acceleration magnitude, hundredths of g
  int32_t gyroMag;     // smoothed angular-rate magnitude, deg/s
  int32_t rawGyroMag;  // raw angular-rate magnitude, deg/s
  int32_t roll;        // degrees
  int32_t pitch;       // degrees, 0 when upright
  int32_t accAvg;      // running mean of accMag over avgWindow samples
  int32_t gyroAvg;     // running mean of gyroMag over 5 samples
  char postureFlag;    // 'O' upright, 'X' otherwise
  int32_t fallLen;     // fall length of the main decision tree (0 if not reached)
};

// Like VelmoraProcess; fills *inspection when it is not null.
int32_t VelmoraProcessInspect(DetectorContext* context, const SampleRecord* sample,
                              SampleInspection* inspection);
