// minimal: the least a firmware does with the detector (set-up, one call
// per sample, close), linked alone, so that the linker map shows what the
// detector brings into a program and nothing else does. Its exit status is
// the number of samples that reported a fall.
#include <cstdint>

#include "Velmora.h"

namespace {

// Standing still, then a short free fall and a hard landing, in raw counts.
constexpr SampleRecord kSamples[] = {
    {0, 8192, 0, 0, 0, 0},      {10, 8180, 30, 5, -3, 2},     {0, 1000, 0, 300, 0, 0},
    {0, 500, 200, 900, 100, 0}, {0, 32000, 9000, 2000, 0, 0}, {8192, 0, 0, 0, 0, 0},
};
constexpr int kRepeats = 100;

}  // namespace

int main() {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  static DetectorContext context;
  if (VelmoraSet(&context, &settings) < 0) {
    return 255;
  }
  int falls = 0;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    for (const SampleRecord& sample : kSamples) {
      falls += VelmoraProcess(&context, &sample) > 0 ? 1 : 0;
    }
  }
  VelmoraClose(&context);
  return falls;
}
