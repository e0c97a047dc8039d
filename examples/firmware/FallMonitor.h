// The fall detector in a wearable's firmware: one detector, fed one IMU
// sample every 20 ms, raising an alarm when it recognises a fall.
#pragma once

#include <cstdint>

// One reading of the IMU driver in raw counts: acceleration at 8192 counts
// per g (a +-4 g range) and angular rate at 65.536 counts per degree per
// second (+-500 deg/s), in the sensor's x, y, z order. Other ranges must be
// scaled to these before the detector sees them.
struct ImuReading {
  int16_t accel[3];
  int16_t gyro[3];
};

// Sets the detector up. Returns false when it cannot be (then the device
// should report a fault rather than run without fall detection).
bool fallMonitorStart();

// Hands one reading to the detector. Call it from the main loop (or one
// task) once per 20 ms tick, never from an interrupt: the detector
// allocates from the heap on every sample, and newlib's malloc is not
// interrupt-safe.
void fallMonitorOnReading(const ImuReading& reading);

// Stops the detector and gives its heap back.
void fallMonitorStop();

// Supplied by the board: raise the alarm (vibrate, call the caregiver).
// `code` names the pattern that recognised the fall, `sampleIndex` counts
// the readings since fallMonitorStart.
void raiseFallAlarm(int32_t code, uint32_t sampleIndex);
