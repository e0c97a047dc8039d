// Diagnostic trace line: one line per sample, written piece by piece while
// the sample is processed, each piece from the observation record as it
// stands at that moment.
#include <cinttypes>

#include "DetectorInternal.h"

namespace velmora {
namespace {

// stillAvg is shown once the raw run has lasted this many samples; before
// that the trace prints 0 in its place.
constexpr int32_t kStillAvgShownRun = 5;

}  // namespace

void traceHead(const VelmoraObservation& o) {
  if (traceStream == nullptr) {
    return;
  }
  std::fprintf(traceStream,
               "%04d: AG <%6d, %6d, %6d><%6d, %6d, %6d>"
               ", RMS <%3d, %3d, %3d, %3d>"
               ", JUMP (%3d, %3d, %3d)"
               ", AVG <%3d, %3d>, PX <%3d, %3d, %c>"
               ", 3S <%4d, %3d>",
               o.sampleIndex, o.ax, o.ay, o.az, o.gx, o.gy, o.gz, o.accMag, o.gyroMag, o.rawAccMag,
               o.rawGyroMag, o.jumpPeak, o.jumpStart, o.jumpEnd, o.accAvg, o.gyroAvg, o.roll,
               o.pitch, o.postureFlag, o.rawAccSum3, o.gyroSum3);
}

void traceBurst(const VelmoraObservation& o) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.jumpEndRaised) {
    std::fprintf(traceStream, ", JX <%d, %d, %d>", o.impactAccum, o.burstLength, o.newJumpEnd);
  } else {
    std::fprintf(traceStream, ", JX <%d, %d>", o.impactAccum, o.burstLength);
  }
}

void traceOutcome(const VelmoraObservation& o, int32_t turnRunMin) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.stillRun >= kStillAvgShownRun) {
    std::fprintf(traceStream, ", FALL [%2d, %2d:%2d, %2d]", o.lowRun, o.stillLen, o.stillAvg,
                 o.fallLen);
  } else {
    std::fprintf(traceStream, ", FALL [%2d, %2d: 0, %2d]", o.lowRun, o.stillLen, o.fallLen);
  }
  if (o.turnRun < turnRunMin) {
    std::fprintf(traceStream, ", TURN_FALL <%2d>", o.turnRun);
  } else {
    std::fprintf(traceStream, ", TURN_FALL <%2d, %2" PRId64 ">", o.turnRun, o.turnThreshold);
  }
}

void traceEnd(const VelmoraObservation& o) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.code != 0) {
    std::fprintf(traceStream, " -> (%d)\n", o.code);
  } else {
    std::fputs("\n", traceStream);
  }
}

}  // namespace velmora
