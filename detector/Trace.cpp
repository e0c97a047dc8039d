// Diagnostic trace line: one line per sample, written piece by piece while
// the sample is processed, each piece from the observation record as it
// stands at that moment.
#include "DetectorInternal.h"

namespace velmora {
namespace {

// stillAvg is shown once the raw run has lasted this many samples; before
// that the trace prints 0 in its place.
constexpr int32_t kStillAvgShownRun = 5;

// Values are printed with %d, which takes an int. int32_t is int on the
// host but long on some embedded toolchains, where it must be passed as int
// (the same 32 bits); a 64-bit value goes through %lld as long long.
constexpr int asInt(int32_t value) { return static_cast<int>(value); }

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
               asInt(o.sampleIndex), asInt(o.ax), asInt(o.ay), asInt(o.az), asInt(o.gx),
               asInt(o.gy), asInt(o.gz), asInt(o.accMag), asInt(o.gyroMag), asInt(o.rawAccMag),
               asInt(o.rawGyroMag), asInt(o.jumpPeak), asInt(o.jumpStart), asInt(o.jumpEnd),
               asInt(o.accAvg), asInt(o.gyroAvg), asInt(o.roll), asInt(o.pitch), o.postureFlag,
               asInt(o.rawAccSum3), asInt(o.gyroSum3));
}

void traceBurst(const VelmoraObservation& o) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.jumpEndRaised) {
    std::fprintf(traceStream, ", JX <%d, %d, %d>", asInt(o.impactAccum), asInt(o.burstLength),
                 asInt(o.newJumpEnd));
  } else {
    std::fprintf(traceStream, ", JX <%d, %d>", asInt(o.impactAccum), asInt(o.burstLength));
  }
}

void traceOutcome(const VelmoraObservation& o, int32_t turnRunMin) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.stillRun >= kStillAvgShownRun) {
    std::fprintf(traceStream, ", FALL [%2d, %2d:%2d, %2d]", asInt(o.lowRun), asInt(o.stillLen),
                 asInt(o.stillAvg), asInt(o.fallLen));
  } else {
    std::fprintf(traceStream, ", FALL [%2d, %2d: 0, %2d]", asInt(o.lowRun), asInt(o.stillLen),
                 asInt(o.fallLen));
  }
  if (o.turnRun < turnRunMin) {
    std::fprintf(traceStream, ", TURN_FALL <%2d>", asInt(o.turnRun));
  } else {
    std::fprintf(traceStream, ", TURN_FALL <%2d, %2lld>", asInt(o.turnRun),
                 static_cast<long long>(o.turnThreshold));
  }
}

void traceEnd(const VelmoraObservation& o) {
  if (traceStream == nullptr) {
    return;
  }
  if (o.code != 0) {
    std::fprintf(traceStream, " -> (%d)\n", asInt(o.code));
  } else {
    std::fputs("\n", traceStream);
  }
}

}  // namespace velmora
