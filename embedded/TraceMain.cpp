// The trace harness: replays a recording with the default settings and
// writes the detector's trace line for every sample to standard output, as
// velmora-trace does on the host without options.
#include <cstdio>

#include "RecordingReplay.h"
#include "Velmora.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: trace <data_file>\n", stderr);
    return 2;
  }
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  traceStream = stdout;
  const ReplaySummary summary =
      replayRecording(argv[1], settings, nullptr, [](const ReplayedSample&) {});
  traceStream = nullptr;
  if (summary.settingsRefused || !summary.opened) {
    std::fprintf(stderr, "trace: %s: cannot be read\n", argv[1]);
    return 1;
  }
  return 0;
}
