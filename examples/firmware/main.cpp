// The firmware example on the emulated board (scripts/m4-run.sh
// firmware-example DATA): a stand-in IMU driver replays a recording from
// the host, one reading per tick, and the alarm is a line on the console.
//
// On a device the loop is the same: a 20 ms timer interrupt sets a flag,
// the main loop sleeps (WFI) until it is set, reads the sensor's newest
// sample and hands it to the fall monitor.
#include <cstdio>

#include "FallMonitor.h"
#include "RecordingReader.h"

std::size_t heapArenaUsed();

namespace {

RecordingReader imu;

// Here no timer: the emulator runs the samples as fast as it can.
void waitForTick() {}

// The IMU driver's read; false when the recording has ended.
bool readImu(ImuReading& reading) {
  SampleRecord sample{};
  for (;;) {
    switch (imu.next(sample)) {
      case RecordingReader::Status::End:
        return false;
      case RecordingReader::Status::Short:
        continue;
      case RecordingReader::Status::Sample:
        reading = ImuReading{{sample.ax, sample.ay, sample.az}, {sample.gx, sample.gy, sample.gz}};
        return true;
    }
  }
}

}  // namespace

void raiseFallAlarm(int32_t code, uint32_t sampleIndex) {
  std::printf("fall alarm: pattern %ld at sample %lu\n", static_cast<long>(code),
              static_cast<unsigned long>(sampleIndex));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: firmware-example <data_file>\n", stderr);
    return 2;
  }
  if (!imu.open(argv[1])) {
    std::fprintf(stderr, "firmware-example: %s, not opened\n", argv[1]);
    return 1;
  }
  imu.skipHeader();
  if (!fallMonitorStart()) {
    std::fputs("firmware-example: the detector could not be set up\n", stderr);
    return 1;
  }
  for (;;) {
    waitForTick();
    ImuReading reading;
    if (!readImu(reading)) {
      break;
    }
    fallMonitorOnReading(reading);
  }
  fallMonitorStop();
  std::printf("heap arena used: %lu bytes\n", static_cast<unsigned long>(heapArenaUsed()));
  return 0;
}
