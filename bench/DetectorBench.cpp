// Per-sample costs of the detector: the whole per-sample operation on a
// realistic stream, the attitude update alone, and the quaternion product.
// Each reports samples per second and heap allocations per sample.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "AllocationCounter.h"
#include "AttitudeFilter.h"
#include "BenchStreams.h"
#include "Quaternion.h"
#include "Velmora.h"

using namespace velmora;
using namespace velmora::algebra;

namespace {

const benchsupport::BenchStream& benchStream() {
  static const benchsupport::BenchStream stream = benchsupport::loadBenchStream();
  return stream;
}

void reportPerSample(benchmark::State& state, uint64_t allocationsBefore) {
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs/sample"] =
      benchmark::Counter(static_cast<double>(benchsupport::allocationCount() - allocationsBefore),
                         benchmark::Counter::kAvgIterations);
}

// One VelmoraProcess call per iteration. The stream is replayed over and
// over on one context, so warm-up, walking, the fall and lying all count.
void BM_VelmoraProcess(benchmark::State& state) {
  const auto& stream = benchStream();
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  DetectorContext context;
  if (VelmoraSet(&context, &settings) < 0) {
    state.SkipWithError("VelmoraSet failed");
    return;
  }
  std::size_t next = 0;
  const uint64_t before = benchsupport::allocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(VelmoraProcess(&context, &stream.samples[next]));
    next = next + 1 == stream.samples.size() ? 0 : next + 1;
  }
  reportPerSample(state, before);
  state.SetLabel(stream.source);
  VelmoraClose(&context);
}
BENCHMARK(BM_VelmoraProcess);

// AttitudeFilterUpdate alone, on the stream converted to g and deg/s the way
// the feature stage converts it (without the smoothing).
void BM_AttitudeFilterUpdate(benchmark::State& state) {
  const auto& stream = benchStream();
  struct Inputs {
    double gyro[3];
    double accel[3];
  };
  std::vector<Inputs> inputs;
  for (const SampleRecord& s : stream.samples) {
    inputs.push_back(Inputs{{s.gx / 65.536f, s.gy / 65.536f, s.gz / 65.536f},
                            {s.ax / 8192.0f, s.ay / 8192.0f, s.az / 8192.0f}});
  }
  const double aux[3] = {0.0, 0.0, 0.0};
  AttitudeFilter filter{};
  AttitudeFilterInit(&filter);
  std::size_t next = 0;
  const uint64_t before = benchsupport::allocationCount();
  for (auto _ : state) {
    const Inputs& in = inputs[next];
    benchmark::DoNotOptimize(AttitudeFilterUpdate(&filter, in.gyro, in.accel, aux, 0.02));
    next = next + 1 == inputs.size() ? 0 : next + 1;
  }
  reportPerSample(state, before);
  AttitudeFilterRelease(&filter);
}
BENCHMARK(BM_AttitudeFilterUpdate);

// The Hamilton product, six of which make up one attitude update.
void BM_QuaternionProduct(benchmark::State& state) {
  const Quaternion p(0.9, 0.1, -0.3, 0.2);
  const Quaternion q(0.7, -0.5, 0.4, 0.1);
  const uint64_t before = benchsupport::allocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(p * q);
  }
  reportPerSample(state, before);
}
BENCHMARK(BM_QuaternionProduct);

}  // namespace
