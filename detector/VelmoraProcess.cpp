// The per-sample operation: the measurement, then the decision (features
// that depend on the settings, warm-up, events, classification) and the
// single advance of ringPos and sampleIndex that ends every sample.
#include "DetectorInternal.h"
#include "VelmoraObservation.h"

namespace velmora {
namespace {

void advance(DetectorContext& context) {
  context.ringPos = (context.ringPos + 1) & (kVelmoraRingSize - 1);
  context.sampleIndex = wrappingAdd(context.sampleIndex, 1);
}

// Ends a sample from the warm-up on; code 0 is the no-fall path. The code
// is traced after the advance, as the trace line has always shown it.
int32_t finishSample(DetectorContext& context, int32_t code, int32_t fallLen,
                     VelmoraObservation* observation) {
  if (observation != nullptr) {
    observeOutcome(*observation, context, fallLen);
    traceOutcome(*observation, context.settings.turnRunMin);
  }
  advance(context);
  if (observation != nullptr) {
    observation->code = code;
    traceEnd(*observation);
  }
  return code;
}

int32_t decide(DetectorContext& ctx, const SampleMeasurement& measurement,
               VelmoraObservation* observation) {
  const SampleFeatures features = updateHistory(ctx, measurement);
  if (observation != nullptr) {
    observeHead(*observation, ctx, measurement, features);
    traceHead(*observation);
  }
  // Only the first samples of a recording warm up. A sampleIndex that has
  // wrapped past 2^31 (after some 500 days) is negative and stays in the
  // decision, so a long recording never re-enters the warm-up.
  if (ctx.sampleIndex < kWarmUpSamples && ctx.sampleIndex >= 0) {
    if (observation != nullptr) {
      observation->warmUp = true;
      observeOutcome(*observation, ctx, 0);  // recorded, not traced
    }
    advance(ctx);
    if (observation != nullptr) {
      traceEnd(*observation);
    }
    return 0;
  }
  if (const int32_t code = trackEvents(ctx, measurement.sample, features, observation); code != 0) {
    // Pattern codes report no fall length.
    return finishSample(ctx, code, 0, observation);
  }
  const Classification outcome = classifySample(ctx, features);
  return finishSample(ctx, outcome.code, outcome.fallLen, observation);
}

}  // namespace
}  // namespace velmora

int32_t VelmoraMeasure(DetectorContext* context, const SampleRecord* sample,
                       SampleMeasurement* measurement) {
  if (velmora::isClosed(*context)) {
    return -1;
  }
  velmora::measureSample(*context, *sample, *measurement);
  return 0;
}

int32_t VelmoraDecideObserved(DetectorContext* context, const SampleMeasurement* measurement,
                              VelmoraObservation* observation) {
  if (velmora::isClosed(*context)) {
    return 0;
  }
  // The trace is printed from an observation, so tracing needs one.
  VelmoraObservation local;
  if (observation == nullptr && traceStream != nullptr) {
    observation = &local;
  }
  return velmora::decide(*context, *measurement, observation);
}

int32_t VelmoraDecide(DetectorContext* context, const SampleMeasurement* measurement) {
  return VelmoraDecideObserved(context, measurement, nullptr);
}

int32_t VelmoraProcessObserved(DetectorContext* context, const SampleRecord* sample,
                               VelmoraObservation* observation) {
  SampleMeasurement measurement;
  if (VelmoraMeasure(context, sample, &measurement) != 0) {
    return 0;
  }
  return VelmoraDecideObserved(context, &measurement, observation);
}

int32_t VelmoraProcess(DetectorContext* context, const SampleRecord* sample) {
  return VelmoraProcessObserved(context, sample, nullptr);
}
