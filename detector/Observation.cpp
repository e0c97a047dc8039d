// Filling the observation record, and the table of its fields.
#include <iterator>

#include "DetectorInternal.h"
#include "VelmoraObservation.h"

namespace velmora {

void observeHead(VelmoraObservation& o, const DetectorContext& context,
                 const SampleMeasurement& measurement, const SampleFeatures& features) {
  o = VelmoraObservation{};
  o.sampleIndex = context.sampleIndex;
  o.ax = measurement.sample.ax;
  o.ay = measurement.sample.ay;
  o.az = measurement.sample.az;
  o.gx = measurement.sample.gx;
  o.gy = measurement.sample.gy;
  o.gz = measurement.sample.gz;
  o.accMag = features.accMag;
  o.gyroMag = features.gyroMag;
  o.rawAccMag = features.rawAccMag;
  o.rawGyroMag = features.rawGyroMag;
  o.jumpPeak = context.jumpPeak;
  o.jumpStart = context.jumpStart;
  o.jumpEnd = context.jumpEnd;
  o.accAvg = features.accAvg;
  o.gyroAvg = features.gyroAvg;
  o.roll = features.roll;
  o.pitch = features.pitch;
  o.postureFlag = features.postureFlag;
  o.rawAccSum3 = context.rawAccSum3;
  o.gyroSum3 = context.gyroSum3;
}

void observeBurst(VelmoraObservation& o, int32_t impactAccum, int32_t burstLength,
                  const int32_t* newJumpEnd) {
  o.burstEnded = true;
  o.impactAccum = impactAccum;
  o.burstLength = burstLength;
  o.jumpEndRaised = newJumpEnd != nullptr;
  o.newJumpEnd = newJumpEnd != nullptr ? *newJumpEnd : 0;
}

void observeOutcome(VelmoraObservation& o, const DetectorContext& context, int32_t fallLen) {
  o.lowRun = context.lowRun;
  o.stillLen = context.stillLen;
  o.stillAvg = context.stillAvg;
  o.stillRun = context.stillRun;
  o.fallLen = fallLen;
  o.turnRun = context.turnRun;
  o.turnThreshold = turnThreshold(context);
  o.jumpWindowOpen = int64_t{context.sampleIndex} < context.jumpEnd;
}

}  // namespace velmora

namespace {

using Kind = VelmoraFieldKind;

#define VELMORA_FIELD(member, unit, kind, description)                                        \
  VelmoraObservationField {                                                                   \
#member, unit, description, kind,                                                         \
        [](const VelmoraObservation& o) -> int64_t { return static_cast<int64_t>(o.member); } \
  }

constexpr VelmoraObservationField kFields[] = {
    VELMORA_FIELD(sampleIndex, "samples", Kind::integer,
                  "the detector's index of the sample (samples it was given before)"),
    VELMORA_FIELD(ax, "count", Kind::integer, "raw acceleration x (8192 counts per g)"),
    VELMORA_FIELD(ay, "count", Kind::integer, "raw acceleration y (8192 counts per g)"),
    VELMORA_FIELD(az, "count", Kind::integer, "raw acceleration z (8192 counts per g)"),
    VELMORA_FIELD(gx, "count", Kind::integer, "raw angular rate x (65.536 counts per deg/s)"),
    VELMORA_FIELD(gy, "count", Kind::integer, "raw angular rate y (65.536 counts per deg/s)"),
    VELMORA_FIELD(gz, "count", Kind::integer, "raw angular rate z (65.536 counts per deg/s)"),
    VELMORA_FIELD(accMag, "g/100", Kind::integer, "smoothed acceleration magnitude"),
    VELMORA_FIELD(gyroMag, "deg/s", Kind::integer, "smoothed angular-rate magnitude"),
    VELMORA_FIELD(rawAccMag, "g/100", Kind::integer, "raw acceleration magnitude"),
    VELMORA_FIELD(rawGyroMag, "deg/s", Kind::integer, "raw angular-rate magnitude"),
    VELMORA_FIELD(jumpPeak, "g/100", Kind::integer,
                  "peak that opened the jump window (0 once it closed), before this sample"),
    VELMORA_FIELD(jumpStart, "samples", Kind::integer,
                  "sampleIndex of the impact that opened the jump window (-1: none yet)"),
    VELMORA_FIELD(jumpEnd, "samples", Kind::integer,
                  "sampleIndex at which the jump window ends, before this sample"),
    VELMORA_FIELD(accAvg, "g/100", Kind::integer, "running mean of accMag over avgWindow samples"),
    VELMORA_FIELD(gyroAvg, "deg/s", Kind::integer, "running mean of gyroMag over 5 samples"),
    VELMORA_FIELD(roll, "deg", Kind::integer, "sideways lean, 0 when upright"),
    VELMORA_FIELD(pitch, "deg", Kind::integer, "forward (+) or backward (-) lean, 0 when upright"),
    VELMORA_FIELD(postureFlag, "", Kind::character, "'O' when the posture test passes, else 'X'"),
    VELMORA_FIELD(rawAccSum3, "g/100", Kind::integer, "sum of rawAccMag over the last 3 samples"),
    VELMORA_FIELD(gyroSum3, "deg/s", Kind::integer, "sum of gyroMag over the last 3 samples"),
    VELMORA_FIELD(warmUp, "", Kind::flag, "one of the first 40 samples: no events, no decision"),
    VELMORA_FIELD(burstEnded, "", Kind::flag, "an impact burst ended on this sample"),
    VELMORA_FIELD(impactAccum, "g/100", Kind::integer,
                  "excess over 1 g summed over the burst that ended (0: none)"),
    VELMORA_FIELD(burstLength, "samples", Kind::integer,
                  "length of the burst that ended (0: none)"),
    VELMORA_FIELD(jumpEndRaised, "", Kind::flag, "the burst lengthened the jump window"),
    VELMORA_FIELD(newJumpEnd, "samples", Kind::integer,
                  "jumpEnd the burst set (0 unless jumpEndRaised)"),
    VELMORA_FIELD(lowRun, "samples", Kind::integer, "current run of accMag at or below lowLevel"),
    VELMORA_FIELD(stillLen, "samples", Kind::integer,
                  "quiet length of the raw low-acceleration run"),
    VELMORA_FIELD(stillAvg, "g/100", Kind::integer,
                  "mean rawAccMag of the raw run's quiet samples (traced from stillRun 5 on)"),
    VELMORA_FIELD(stillRun, "samples", Kind::integer, "length of the raw low-acceleration run"),
    VELMORA_FIELD(fallLen, "samples", Kind::integer,
                  "fall length the decision tree used (0 for pattern codes)"),
    VELMORA_FIELD(turnRun, "samples", Kind::integer,
                  "run of samples above turnAccLevel and turnGyroLevel"),
    VELMORA_FIELD(turnThreshold, "samples", Kind::integer,
                  "turnRun that makes code 5 (traced once turnRun reaches turnRunMin)"),
    VELMORA_FIELD(jumpWindowOpen, "", Kind::flag,
                  "sampleIndex < jumpEnd after the event stage: no fall length counted"),
    VELMORA_FIELD(code, "code", Kind::integer, "result code: 0, or the pattern that found a fall"),
};
#undef VELMORA_FIELD

}  // namespace

std::span<const VelmoraObservationField> VelmoraObservationFields() { return kFields; }
