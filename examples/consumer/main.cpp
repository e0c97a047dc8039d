// Runs the installed fall detector over a short synthetic stream: two
// seconds of standing still, then a second of free fall. Prints the version,
// the features of the last sample and the first result code, and exits with
// status 1 if the library misbehaves.
#include <cstdio>
#include <memory>

#include "Velmora.h"
#include "VelmoraObservation.h"

int main() {
  std::printf("%s\n", VelmoraGetVersion());

  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  // The context holds the whole history of a recording; keep it off the stack.
  const auto context = std::make_unique<DetectorContext>();
  if (VelmoraSet(context.get(), &settings) < 0) {
    std::fprintf(stderr, "velmora-consumer: VelmoraSet failed\n");
    return 1;
  }

  // Upright at rest the sensor's y axis reads about -1 g (8192 counts per g).
  const SampleRecord standing{0, -8192, 0, 0, 0, 0};
  const SampleRecord falling{0, -400, 0, 0, 0, 0};
  VelmoraObservation features{};
  int firstCode = 0;
  int firstCodeAt = -1;
  constexpr int kStandingSamples = 100;  // 50 samples per second
  constexpr int kTotalSamples = 150;
  for (int i = 0; i < kTotalSamples; ++i) {
    const SampleRecord& sample = i < kStandingSamples ? standing : falling;
    const int code = VelmoraProcessObserved(context.get(), &sample, &features);
    if (code > 0 && firstCode == 0) {
      firstCode = code;
      firstCodeAt = i;
    }
  }
  VelmoraClose(context.get());

  std::printf("samples: %d, last accMag: %d (hundredths of g), first code: %d at sample %d\n",
              kTotalSamples, features.accMag, firstCode, firstCodeAt);
  // After a second of near free fall the smoothed magnitude must be low.
  if (context->sampleIndex != kTotalSamples || features.accMag > settings.lowLevel) {
    std::fprintf(stderr, "velmora-consumer: unexpected detector state\n");
    return 1;
  }
  return 0;
}
