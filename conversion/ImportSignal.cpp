#include "ImportSignal.h"

#include <cmath>
#include <limits>

#include "RecordingWriter.h"

#ifdef VELMORA_HAVE_SAMPLERATE
#include <samplerate.h>
#endif

namespace importsignal {

std::size_t gridLength(double firstMs, double lastMs) {
  if (!(lastMs >= firstMs)) {
    return 0;
  }
  return static_cast<std::size_t>(std::floor((lastMs - firstMs) / kOutputPeriodMs)) + 1;
}

std::vector<Values> meanOfGroups(const std::vector<Values>& samples, std::size_t group) {
  std::vector<Values> out;
  if (group == 0) {
    return out;
  }
  out.reserve(samples.size() / group);
  GroupMean groups(group);
  Values mean{};
  for (const Values& values : samples) {
    if (groups.add(values, mean)) {
      out.push_back(mean);
    }
  }
  return out;
}

#ifdef VELMORA_HAVE_SAMPLERATE
bool sincAvailable() { return true; }

std::string resampleSinc(const std::vector<Values>& samples, double sourceRate,
                         std::vector<Values>& out) {
  return resampleSinc(
      samples.size(), [&samples](std::size_t k) -> const Values& { return samples[k]; }, sourceRate,
      out);
}

std::string resampleSinc(std::size_t count,
                         const std::function<const Values&(std::size_t)>& valueAt,
                         double sourceRate, std::vector<Values>& out) {
  out.clear();
  if (count == 0) {
    return {};
  }
  const double ratio = kOutputRate / sourceRate;
  if (!(ratio >= 1.0 / 256.0 && ratio <= 256.0)) {
    return "sinc resampling takes source rates from 0.2 to 12800 samples/s";
  }
  constexpr int kChannels = 6;
  // The converter sees silence before and after the input, so a signal
  // that does not start and end at 0 (gravity, for one) would ring at both
  // ends. It converts the signal minus the straight line from its first to
  // its last value instead, and the line is added back exactly.
  const std::size_t n = count;
  const Values head = valueAt(0);
  const Values tail = valueAt(n - 1);
  const double span = n > 1 ? static_cast<double>(n - 1) : 1.0;
  const auto line = [&](std::size_t axis, double position) {
    return head[axis] + (tail[axis] - head[axis]) * (position / span);
  };
  std::vector<float> in(n * kChannels);
  for (std::size_t i = 0; i < n; ++i) {
    const Values& values = valueAt(i);
    for (std::size_t axis = 0; axis < kChannels; ++axis) {
      in[i * kChannels + axis] =
          static_cast<float>(values[axis] - line(axis, static_cast<double>(i)));
    }
  }
  // The converter's output runs to the end of the input, a little over
  // n x ratio frames; keep the samples whose time lies within the input.
  const auto wanted =
      static_cast<std::size_t>(std::floor(static_cast<double>(n - 1) * ratio) + 1.0);
  if (wanted > kMaxInputSamples) {
    return "the samples would give more than " + std::to_string(kMaxInputSamples) +
           " output samples; split the recording";
  }
  std::vector<float> result((wanted + 16) * kChannels);
  SRC_DATA data{};
  data.data_in = in.data();
  data.data_out = result.data();
  data.input_frames = static_cast<long>(n);
  data.output_frames = static_cast<long>(wanted + 16);
  data.src_ratio = ratio;
  data.end_of_input = 1;
  if (const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, kChannels); error != 0) {
    return std::string("sinc resampling failed: ") + src_strerror(error);
  }
  const std::size_t produced =
      std::min(wanted, static_cast<std::size_t>(std::max(0L, data.output_frames_gen)));
  out.resize(produced);
  for (std::size_t k = 0; k < produced; ++k) {
    const double position = static_cast<double>(k) / ratio;  // in input samples
    for (std::size_t axis = 0; axis < kChannels; ++axis) {
      out[k][axis] = result[k * kChannels + axis] + line(axis, position);
    }
  }
  return {};
}
#else
bool sincAvailable() { return false; }

std::string resampleSinc(const std::vector<Values>& /*samples*/, double /*sourceRate*/,
                         std::vector<Values>& out) {
  out.clear();
  return "sinc resampling was left out of this build (it needs libsamplerate0-dev)";
}

std::string resampleSinc(std::size_t /*count*/,
                         const std::function<const Values&(std::size_t)>& /*valueAt*/,
                         double /*sourceRate*/, std::vector<Values>& out) {
  out.clear();
  return "sinc resampling was left out of this build (it needs libsamplerate0-dev)";
}
#endif

SampleRecord countSample(const Values& values, double accFactor, double gyroFactor, Values& scaled,
                         bool& accClamped, bool& gyroClamped) {
  constexpr double kLow = std::numeric_limits<int16_t>::min();
  constexpr double kHigh = std::numeric_limits<int16_t>::max();
  SampleRecord sample{};
  accClamped = false;
  gyroClamped = false;
  for (std::size_t axis = 0; axis < 6; ++axis) {
    scaled[axis] = values[axis] * (axis < 3 ? accFactor : gyroFactor);
    const double rounded = std::floor(scaled[axis] + 0.5);
    const bool clamped = !(rounded >= kLow && rounded <= kHigh);
    (axis < 3 ? accClamped : gyroClamped) |= clamped;
    // NaN (never produced from finite input) would land on the low end.
    sample.*kSampleFields[axis] =
        static_cast<int16_t>(rounded > kHigh ? kHigh : (rounded >= kLow ? rounded : kLow));
  }
  return sample;
}

CountedSamples toCounts(const std::vector<Values>& samples, double accFactor, double gyroFactor) {
  return toCounts(
      samples.size(), [&samples](std::size_t k) -> const Values& { return samples[k]; }, accFactor,
      gyroFactor);
}

CountedSamples toCounts(std::size_t count, const std::function<const Values&(std::size_t)>& valueAt,
                        double accFactor, double gyroFactor) {
  SampleCounter counter(accFactor, gyroFactor);
  counter.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    counter.add(valueAt(k));
  }
  return counter.take();
}

void SampleCounter::add(const Values& values) {
  Values scaled{};
  bool accClamped = false;
  bool gyroClamped = false;
  counted_.samples.push_back(
      countSample(values, accFactor_, gyroFactor_, scaled, accClamped, gyroClamped));
  const double square = scaled[0] * scaled[0] + scaled[1] * scaled[1] + scaled[2] * scaled[2];
  if (square > largestSquare_) {
    largestSquare_ = square;
    counted_.impactSample = static_cast<int64_t>(counted_.samples.size() - 1);
  }
  counted_.clampedAccSamples += accClamped ? 1 : 0;
  counted_.clampedGyroSamples += gyroClamped ? 1 : 0;
}

CountedSamples SampleCounter::take() {
  counted_.impactG = largestSquare_ > 0.0 ? std::sqrt(largestSquare_) / kVelmoraCountsPerG : 0.0;
  CountedSamples result = std::move(counted_);
  counted_ = {};
  largestSquare_ = -1.0;
  return result;
}

}  // namespace importsignal
