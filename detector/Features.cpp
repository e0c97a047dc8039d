// Feature stage: unit conversion, low-pass smoothing, magnitudes, attitude
// update and angles (the measurement, which no setting affects), then
// posture and the rings and running sums that later stages read.
#include <cmath>

#include "AttitudeFilter.h"
#include "DetectorInternal.h"
#include "Quaternion.h"

namespace velmora {
namespace {

// Bilinear-transform first-order low-pass, all in 32-bit float. 6.28 stands
// for 2*pi; the cut-off and rate are the design values, not the sample rate.
constexpr float kCutOff = 10.0f;
constexpr float kRate = 500.0f;
constexpr float kWc = 6.28f * kCutOff;
constexpr float kA1 = (kWc - 2.0f * kRate) / (2.0f * kRate + kWc);
constexpr float kB0 = kWc / (2.0f * kRate + kWc);
constexpr float kB1 = kB0;

constexpr float kAccScale = static_cast<float>(kVelmoraCountsPerG);
constexpr float kGyroScale = static_cast<float>(kVelmoraCountsPerDps);
static_assert(kGyroScale == 65.536f);
constexpr double kPi = 3.141592653589793;
constexpr double kSampleInterval = kVelmoraSamplePeriodMs / 1000.0;  // seconds
static_assert(kSampleInterval == 0.02);

float smooth(SmoothingFilter& filter, float input) {
  filter.out = kB0 * input + kB1 * filter.prevIn - kA1 * filter.prevOut;
  filter.prevOut = filter.out;
  filter.prevIn = input;
  return filter.out;
}

// Euclidean length: sum of squares in float, square root as pow(., 0.5) in
// double, rounded back to float.
float magnitude(float x, float y, float z) {
  const float sum = x * x + y * y + z * z;
  return static_cast<float>(std::pow(static_cast<double>(sum), 0.5));
}

// Angle functions take float-rounded arguments and give float-rounded
// results; the conversion to whole degrees is in double.
int32_t wholeDegrees(float radians) {
  return truncateToInt32(static_cast<double>(radians) * 180.0 / kPi);
}

}  // namespace

void measureSample(DetectorContext& context, const SampleRecord& sample,
                   SampleMeasurement& measurement) {
  measurement.sample = sample;

  const float accG[3] = {static_cast<float>(sample.ax) / kAccScale,
                         static_cast<float>(sample.ay) / kAccScale,
                         static_cast<float>(sample.az) / kAccScale};
  const float gyroDps[3] = {static_cast<float>(sample.gx) / kGyroScale,
                            static_cast<float>(sample.gy) / kGyroScale,
                            static_cast<float>(sample.gz) / kGyroScale};

  float accSmooth[3];
  for (int axis = 0; axis < 3; ++axis) {
    accSmooth[axis] = smooth(context.smoothing[axis], accG[axis]);
  }
  // Magnitudes are bounded (|count| <= 32768), so the conversions are in range.
  measurement.accMag =
      static_cast<int32_t>(magnitude(accSmooth[0], accSmooth[1], accSmooth[2]) * 100.0f);
  measurement.rawAccMag = static_cast<int32_t>(magnitude(accG[0], accG[1], accG[2]) * 100.0f);

  float gyroSmooth[3];
  for (int axis = 0; axis < 3; ++axis) {
    gyroSmooth[axis] = smooth(context.smoothing[3 + axis], gyroDps[axis]);
  }
  measurement.gyroMag =
      static_cast<int32_t>(magnitude(gyroSmooth[0], gyroSmooth[1], gyroSmooth[2]));
  measurement.rawGyroMag = static_cast<int32_t>(magnitude(gyroDps[0], gyroDps[1], gyroDps[2]));

  const double gyro[3] = {gyroSmooth[0], gyroSmooth[1], gyroSmooth[2]};
  const double accel[3] = {accSmooth[0], accSmooth[1], accSmooth[2]};
  const double aux[3] = {0.0, 0.0, 0.0};
  (void)AttitudeFilterUpdate(&context.attitude, gyro, accel, aux, kSampleInterval);

  const algebra::Quaternion& orientation = *context.attitude.orientation;
  const double w = orientation.get_w();
  const algebra::dVector& v = orientation.get_v();
  const double x = v[0];
  const double y = v[1];
  const double z = v[2];
  const float rollSine = static_cast<float>(2.0 * (w * y - x * z));
  const float rollAngle = static_cast<float>(std::asin(static_cast<double>(rollSine)));
  measurement.roll = wholeDegrees(rollAngle);
  const float sineSide = static_cast<float>(2.0 * (y * z + w * x));
  const float cosineSide = static_cast<float>(2.0 * (w * w + z * z) - 1.0);
  const float tiltAngle = static_cast<float>(
      std::atan2(static_cast<double>(sineSide), static_cast<double>(cosineSide)));
  // Upright reads 90 degrees here; pitch is measured from upright.
  measurement.pitch = wholeDegrees(tiltAngle) - 90;
}

SampleFeatures updateHistory(DetectorContext& context, const SampleMeasurement& measurement) {
  const DetectorSettings& settings = context.settings;
  SampleFeatures features{};
  features.accMag = measurement.accMag;
  features.rawAccMag = measurement.rawAccMag;
  features.gyroMag = measurement.gyroMag;
  features.rawGyroMag = measurement.rawGyroMag;
  features.roll = measurement.roll;
  features.pitch = measurement.pitch;

  const int32_t pos = context.ringPos & (kVelmoraRingSize - 1);
  context.accRing[pos] = features.accMag;
  context.rawAccRing[pos] = features.rawAccMag;
  context.gyroRing[pos] = features.gyroMag;

  // Running sums: add the new entry, drop the one k samples back (already
  // overwritten when k = 64, which leaves the sum unchanged).
  context.gyroSum5 = context.gyroSum5 - context.gyroRing[ringSlot(pos, 5)] + features.gyroMag;
  features.gyroAvg = context.gyroSum5 / 5;

  context.accSum =
      context.accSum - context.accRing[ringSlot(pos, settings.avgWindow)] + features.accMag;
  features.accAvg = context.accSum / settings.avgWindow;

  // Negated in 64 bits so that no setting value can overflow.
  const bool upright =
      -int64_t{settings.rollLimit} < features.roll && features.roll < settings.rollLimit &&
      settings.pitchUprightMin < features.pitch && features.pitch < settings.pitchMax;
  if (upright) {
    features.postureFlag = 'O';
    // Only differences of the count are read, so wrapping is harmless.
    context.uprightCount = wrappingAdd(context.uprightCount, 1);
  } else {
    features.postureFlag = 'X';
  }
  context.uprightRing[pos] = context.uprightCount;

  const int32_t back3 = ringSlot(pos, 3);
  context.rawAccSum3 = context.rawAccSum3 - context.rawAccRing[back3] + features.rawAccMag;
  context.gyroSum3 = context.gyroSum3 - context.gyroRing[back3] + features.gyroMag;
  return features;
}

}  // namespace velmora
