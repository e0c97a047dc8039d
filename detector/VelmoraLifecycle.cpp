// Version text, default settings, set-up and close.
#include <cstring>

#include "AttitudeFilter.h"
#include "DetectorInternal.h"
#include "Velmora.h"

std::FILE* traceStream = nullptr;

const char* VelmoraGetVersion() { return "Q5-Velmora-2.1.0"; }

int32_t VelmoraDefaultSettings(DetectorSettings* settings) {
  *settings = kVelmoraDefaultSettings;
  return 0;
}

int32_t VelmoraSet(DetectorContext* context, const DetectorSettings* settings) {
  if (!velmora::settingsRunnable(*settings)) {
    return -1;
  }
  std::memset(static_cast<void*>(context), 0, sizeof(*context));
  context->settings = *settings;
  context->jumpStart = -1;
  context->rawAccSum3 = 300;
  context->gyroSum3 = 0;
  velmora::AttitudeFilterInit(&context->attitude);
  // Magnitude rings start at 1 g (100) so that every running sum equals the
  // sum of the entries it covers from the first sample on.
  for (int slot = 0; slot < kVelmoraRingSize; ++slot) {
    context->rawAccRing[slot] = 100;
    context->accRing[slot] = 100;
  }
  context->accSum = settings->avgWindow * 100;
  return 0;
}

int32_t VelmoraClose(DetectorContext* context) {
  velmora::AttitudeFilterRelease(&context->attitude);
  return 0;
}
