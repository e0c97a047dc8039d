// What the detector saw and decided on one sample, for programs that study,
// plot or tune it. The detector fills a VelmoraObservation while it works;
// the trace line (traceStream) is printed from the same record, so a field
// holds exactly the value the trace shows under the same name, taken at the
// moment the trace prints it. VelmoraObservationFields() lists the fields so
// that tables (CSV columns, Python keys) can be built without naming them.
#pragma once

#include <cstdint>
#include <span>

#include "Velmora.h"

struct VelmoraObservation {
  // Head of the trace line: the sample and its features, before the event
  // stage; jumpPeak, jumpStart and jumpEnd as the previous sample left them.
  int32_t sampleIndex;  // detector's count of samples, before it advances
  int32_t ax, ay, az;   // raw acceleration counts
  int32_t gx, gy, gz;   // raw angular-rate counts
  int32_t accMag;
  int32_t gyroMag;
  int32_t rawAccMag;
  int32_t rawGyroMag;
  int32_t jumpPeak;
  int32_t jumpStart;
  int32_t jumpEnd;
  int32_t accAvg;
  int32_t gyroAvg;
  int32_t roll;
  int32_t pitch;
  char postureFlag;  // 'O' upright, 'X' otherwise
  int32_t rawAccSum3;
  int32_t gyroSum3;
  // The first 40 samples of a recording stop after the head: no events, no
  // decision, code 0.
  bool warmUp;
  // Event stage: an impact burst ended on this sample (the trace's JX piece).
  bool burstEnded;
  int32_t impactAccum;  // the burst's accumulated excess over 1 g (0 unless burstEnded)
  int32_t burstLength;  // its length in samples (0 unless burstEnded)
  bool jumpEndRaised;   // the burst lengthened the jump window ...
  int32_t newJumpEnd;   // ... to end here (0 unless jumpEndRaised)
  // Outcome, after the event stage (0 on warm-up samples for fallLen/code).
  int32_t lowRun;
  int32_t stillLen;
  int32_t stillAvg;  // the trace shows it only once stillRun reaches 5
  int32_t stillRun;
  int32_t fallLen;
  int32_t turnRun;
  int64_t turnThreshold;  // turnRun needed for code 5; shown once turnRun >= turnRunMin
  bool jumpWindowOpen;    // sampleIndex < jumpEnd: no fall length is counted yet
  int32_t code;           // the result code of the sample
};

// How a field's value reads.
enum class VelmoraFieldKind : int32_t {
  integer,    // a signed integer
  flag,       // 0 or 1
  character,  // a character code ('O', 'X')
};

struct VelmoraObservationField {
  const char* name;         // the member's name, also the trace's name for it
  const char* unit;         // "g/100", "deg", "deg/s", "samples", "count", "code" or ""
  const char* description;  // one line
  VelmoraFieldKind kind;
  int64_t (*read)(const VelmoraObservation& observation);
};

// Every field of VelmoraObservation, in the order the trace line prints them.
[[nodiscard]] std::span<const VelmoraObservationField> VelmoraObservationFields();

// VelmoraProcess that also fills *observation (when not null). Results and
// trace are those of VelmoraProcess. On a closed context it returns 0 and
// writes nothing.
int32_t VelmoraProcessObserved(DetectorContext* context, const SampleRecord* sample,
                               VelmoraObservation* observation);
// VelmoraDecide that also fills *observation (when not null).
int32_t VelmoraDecideObserved(DetectorContext* context, const SampleMeasurement* measurement,
                              VelmoraObservation* observation);
