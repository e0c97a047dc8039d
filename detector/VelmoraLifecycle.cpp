// Version text, default settings, set-up and close.
#include <cstring>

#include "DetectorInternal.h"
#include "Velmora.h"

std::FILE* traceStream = nullptr;

const char* VelmoraGetVersion() { return "Q5-Velmora-2.1.0"; }

int32_t VelmoraDefaultSettings(DetectorSettings* settings) {
  *settings = DetectorSettings{
      15,    // avgWindow
      60,    // lowLevel
      140,   // impactMin
      400,   // impactMax
      160,   // gyroAvgLow
      360,   // gyroAvgHigh
      40,    // accAvgLimit
      50,    // spare7
      38,    // rollLimit
      -70,   // pitchUprightMin
      -90,   // pitchImpactMin
      35,    // pitchMax
      4,     // minEventRun
      37,    // maxJumpSpan
      60,    // stillEnterLevel
      90,    // stillExitLevel
      55,    // stillAvgMax
      1600,  // burstHigh
      5,     // burstHighWindow
      3,     // burstHighMinLen
      1200,  // burstLow
      5,     // burstLowWindow
      7,     // burstLowMinLen
      -3,    // uprightLag
      1,     // uprightDeltaMax
      150,   // turnAccLevel
      150,   // turnGyroLevel
      19,    // turnRunMin
      10,    // lowEventMinLen
      9,     // lowRunMin
      25,    // lowTotalMin
      5,     // gapMin
      20,    // gapMax
      400,   // postPeakMin
      25,    // spare34
  };
  return 0;
}

int32_t VelmoraSet(DetectorContext* context, const DetectorSettings* settings) {
  // avgWindow divides every sample's running mean and must fit in the ring.
  if (settings->avgWindow < 1 || settings->avgWindow > kRingSize - 1) {
    return -1;
  }
  std::memset(static_cast<void*>(context), 0, sizeof(*context));
  context->settings = *settings;
  context->jumpStart = -1;
  context->rawAccSum3 = 300;
  context->gyroSum3 = 0;
  AttitudeFilterInit(&context->attitude);
  // Magnitude rings start at 1 g (100) so that every running sum equals the
  // sum of the entries it covers from the first sample on.
  for (int slot = 0; slot < kRingSize; ++slot) {
    context->rawAccRing[slot] = 100;
    context->accRing[slot] = 100;
  }
  context->accSum = settings->avgWindow * 100;
  return 0;
}

int32_t VelmoraClose(DetectorContext* context) {
  AttitudeFilterRelease(&context->attitude);
  return 0;
}
