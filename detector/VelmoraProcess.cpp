// The per-sample operation: features, warm-up, events, classification, and
// the single advance of ringPos and sampleIndex that ends every sample.
#include "DetectorInternal.h"
#include "VelmoraObserve.h"

namespace velmora {
namespace {

void advance(DetectorContext& context) {
  context.ringPos = (context.ringPos + 1) & (kRingSize - 1);
  context.sampleIndex = wrappingAdd(context.sampleIndex, 1);
}

// Ends a sample from the warm-up on; code 0 is the no-fall path.
int32_t finishSample(DetectorContext& context, int32_t code, int32_t fallLen) {
  traceOutcome(context, fallLen);
  advance(context);
  traceEnd(code);
  return code;
}

}  // namespace
}  // namespace velmora

int32_t VelmoraProcessInspect(DetectorContext* context, const SampleRecord* sample,
                              SampleInspection* inspection) {
  using namespace velmora;
  DetectorContext& ctx = *context;
  const SampleFeatures features = computeFeatures(ctx, *sample);
  if (inspection != nullptr) {
    *inspection = SampleInspection{
        features.accMag, features.rawAccMag, features.gyroMag, features.rawGyroMag,  features.roll,
        features.pitch,  features.accAvg,    features.gyroAvg, features.postureFlag, 0};
  }
  traceHead(ctx, *sample, features);
  if (ctx.sampleIndex < kWarmUpSamples && ctx.sampleIndex >= 0) {
    if (traceStream != nullptr) {
      std::fputs("\n", traceStream);
    }
    advance(ctx);
    return 0;
  }
  if (const int32_t code = trackEvents(ctx, *sample, features); code != 0) {
    // Pattern codes report no fall length.
    return finishSample(ctx, code, 0);
  }
  const Classification outcome = classifySample(ctx, features);
  if (inspection != nullptr) {
    inspection->fallLen = outcome.fallLen;
  }
  return finishSample(ctx, outcome.code, outcome.fallLen);
}

int32_t VelmoraProcess(DetectorContext* context, const SampleRecord* sample) {
  return VelmoraProcessInspect(context, sample, nullptr);
}
