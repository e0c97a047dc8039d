#include "FallMonitor.h"

#include "Velmora.h"

namespace {

// The detector's whole state: about 1.9 KB, kept out of the stack.
DetectorContext detector;
bool running = false;
uint32_t sampleIndex = 0;
// The detector reports a fall on the sample that completes a pattern and
// may report the same fall again on later samples; one alarm per fall is
// enough, so further reports within this many samples (10 s) are dropped.
constexpr uint32_t kAlarmHoldOff = 10 * kVelmoraSamplesPerSecond;
uint32_t lastAlarm = 0;
bool alarmed = false;

}  // namespace

bool fallMonitorStart() {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  // A device could change settings here, e.g. from values kept in flash.
  if (VelmoraSet(&detector, &settings) < 0) {
    return false;
  }
  running = true;
  sampleIndex = 0;
  alarmed = false;
  return true;
}

void fallMonitorOnReading(const ImuReading& reading) {
  if (!running) {
    return;
  }
  const SampleRecord sample{reading.accel[0], reading.accel[1], reading.accel[2],
                            reading.gyro[0],  reading.gyro[1],  reading.gyro[2]};
  const int32_t code = VelmoraProcess(&detector, &sample);
  if (code > 0 && (!alarmed || sampleIndex - lastAlarm >= kAlarmHoldOff)) {
    alarmed = true;
    lastAlarm = sampleIndex;
    raiseFallAlarm(code, sampleIndex);
  }
  ++sampleIndex;
}

void fallMonitorStop() {
  if (running) {
    VelmoraClose(&detector);
    running = false;
  }
}
