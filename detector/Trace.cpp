// Diagnostic trace line: one line per sample, written piece by piece while
// the sample is processed, so each piece shows the values of its moment.
#include <cinttypes>

#include "DetectorInternal.h"

namespace velmora {

void traceHead(const DetectorContext& context, const SampleRecord& sample,
               const SampleFeatures& features) {
  if (traceStream == nullptr) {
    return;
  }
  std::fprintf(traceStream,
               "%04d: AG <%6d, %6d, %6d><%6d, %6d, %6d>"
               ", RMS <%3d, %3d, %3d, %3d>"
               ", JUMP (%3d, %3d, %3d)"
               ", AVG <%3d, %3d>, PX <%3d, %3d, %c>"
               ", 3S <%4d, %3d>",
               context.sampleIndex, sample.ax, sample.ay, sample.az, sample.gx, sample.gy,
               sample.gz, features.accMag, features.gyroMag, features.rawAccMag,
               features.rawGyroMag, context.jumpPeak, context.jumpStart, context.jumpEnd,
               features.accAvg, features.gyroAvg, features.roll, features.pitch,
               features.postureFlag, context.rawAccSum3, context.gyroSum3);
}

void traceImpact(int32_t impactAccum, int32_t burstLength, const int32_t* newEnd) {
  if (traceStream == nullptr) {
    return;
  }
  if (newEnd != nullptr) {
    std::fprintf(traceStream, ", JX <%d, %d, %d>", impactAccum, burstLength, *newEnd);
  } else {
    std::fprintf(traceStream, ", JX <%d, %d>", impactAccum, burstLength);
  }
}

void traceOutcome(const DetectorContext& context, int32_t fallLen) {
  if (traceStream == nullptr) {
    return;
  }
  if (context.stillRun >= 5) {
    std::fprintf(traceStream, ", FALL [%2d, %2d:%2d, %2d]", context.lowRun, context.stillLen,
                 context.stillAvg, fallLen);
  } else {
    std::fprintf(traceStream, ", FALL [%2d, %2d: 0, %2d]", context.lowRun, context.stillLen,
                 fallLen);
  }
  const int32_t turnRunMin = context.settings.turnRunMin;
  if (context.turnRun < turnRunMin) {
    std::fprintf(traceStream, ", TURN_FALL <%2d>", context.turnRun);
  } else {
    const int64_t threshold = int64_t{turnRunMin} + uprightSpan(context, context.turnRun) / 2;
    std::fprintf(traceStream, ", TURN_FALL <%2d, %2" PRId64 ">", context.turnRun, threshold);
  }
}

void traceEnd(int32_t code) {
  if (traceStream == nullptr) {
    return;
  }
  if (code != 0) {
    std::fprintf(traceStream, " -> (%d)\n", code);
  } else {
    std::fputs("\n", traceStream);
  }
}

}  // namespace velmora
