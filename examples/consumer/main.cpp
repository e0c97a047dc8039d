// Runs the installed fall detector over a short synthetic stream: two
// seconds of standing still, then a second of free fall. Prints the version,
// the features of the last sample and the first result code, and exits with
// status 1 if the library misbehaves.
#include <cmath>
#include <cstdio>
#include <memory>

#include "Velmora.h"
#include "VelmoraObservation.h"

// The library keeps its internal names (linear algebra, quaternion, attitude
// filter) to itself, so a program may use the same names for its own code.
struct Quaternion {
  double w, x, y, z;
};
using dVector = Quaternion;
double Dot(const dVector& a, const dVector& b) {
  return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
}
double Norm(const dVector& v) { return std::sqrt(Dot(v, v)); }

int main() {
  std::printf("%s\n", VelmoraGetVersion());
  if (Norm(Quaternion{0.0, 3.0, 4.0, 0.0}) != 5.0) {
    return 1;
  }

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
