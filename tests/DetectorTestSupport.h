// Helpers for the detector unit tests: a context that closes itself, a few
// hand-made samples, trace capture and context comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "DetectorInternal.h"
#include "Quaternion.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

namespace detectortest {

using namespace velmora::algebra;

// The sensor is worn with its y axis pointing down along the body: standing
// still it reads -1 g on y, which the posture test calls upright.
inline constexpr SampleRecord kUpright{0, -8192, 0, 0, 0, 0};
// Free fall: no specific force on any axis.
inline constexpr SampleRecord kFreeFall{0, 0, 0, 0, 0, 0};

// An upright sample whose raw magnitude is `hundredthsG` x 0.01 g, placed in
// the middle of its truncation interval (single axis, |count| < 23000).
inline SampleRecord uprightPeak(int32_t hundredthsG) {
  const int32_t counts = (hundredthsG * 8192 + 4096) / 100;
  return SampleRecord{0, static_cast<int16_t>(-counts), 0, 0, 0, 0};
}

inline DetectorSettings defaultSettings() {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  return settings;
}

// One detector run; set up on construction, closed on destruction.
class Detector {
 public:
  explicit Detector(const DetectorSettings& settings = defaultSettings()) {
    if (VelmoraSet(&context_, &settings) != 0) {
      throw std::invalid_argument("settings rejected by VelmoraSet");
    }
  }
  ~Detector() { VelmoraClose(&context_); }
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;

  int32_t process(const SampleRecord& sample) { return VelmoraProcess(&context_, &sample); }

  VelmoraObservation inspect(const SampleRecord& sample, int32_t* code = nullptr) {
    VelmoraObservation inspection{};
    const int32_t result = VelmoraProcessObserved(&context_, &sample, &inspection);
    if (code != nullptr) {
      *code = result;
    }
    return inspection;
  }

  // Feeds `count` copies of `sample`; returns the first non-zero code, or 0.
  int32_t feed(const SampleRecord& sample, int count) {
    int32_t first = 0;
    for (int i = 0; i < count; ++i) {
      const int32_t code = process(sample);
      if (first == 0) {
        first = code;
      }
    }
    return first;
  }

  // Stands still upright until `sampleIndex` reaches `index` (past the
  // warm-up, with a settled attitude and full rings).
  void standUntil(int32_t index) {
    while (context_.sampleIndex < index) {
      process(kUpright);
    }
  }

  DetectorContext& context() { return context_; }
  [[nodiscard]] const DetectorContext& context() const { return context_; }

 private:
  DetectorContext context_{};
};

// Routes the trace into memory while alive; traceStream is null afterwards.
class TraceCapture {
 public:
  TraceCapture() {
    stream_ = open_memstream(&buffer_, &size_);
    if (stream_ == nullptr) {
      throw std::runtime_error("open_memstream failed");
    }
    traceStream = stream_;
  }
  ~TraceCapture() {
    traceStream = nullptr;
    std::fclose(stream_);
    std::free(buffer_);
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // Everything written so far.
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

  // The lines written so far, each with its newline.
  std::vector<std::string> lines() {
    std::vector<std::string> result;
    const std::string all = text();
    std::size_t start = 0;
    while (start < all.size()) {
      const std::size_t end = all.find('\n', start);
      const std::size_t stop = end == std::string::npos ? all.size() : end + 1;
      result.push_back(all.substr(start, stop - start));
      start = stop;
    }
    return result;
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_ = nullptr;
};

// Whole-state equality. The attitude member holds a heap pointer, so its
// quaternion is compared by value; every other word is compared bitwise.
inline bool sameState(const DetectorContext& a, const DetectorContext& b) {
  if (std::memcmp(&a.settings, &b.settings, sizeof a.settings) != 0) {
    return false;
  }
  const Quaternion& qa = *a.attitude.orientation;
  const Quaternion& qb = *b.attitude.orientation;
  const dVector va = qa.get_v();
  const dVector vb = qb.get_v();
  for (int axis = 0; axis < 3; ++axis) {
    if (va[axis] != vb[axis] || a.attitude.gyroBias[axis] != b.attitude.gyroBias[axis]) {
      return false;
    }
  }
  if (qa.get_w() != qb.get_w() || a.attitude.biasCount != b.attitude.biasCount) {
    return false;
  }
  constexpr std::size_t kRest = offsetof(DetectorContext, accRing);
  return std::memcmp(reinterpret_cast<const char*>(&a) + kRest,
                     reinterpret_cast<const char*>(&b) + kRest, sizeof a - kRest) == 0;
}

// Reproducible sample streams for the property tests. `wild` draws every
// axis over the whole 16-bit range; otherwise the stream wanders around an
// upright posture with free falls, hard impacts and fast turns mixed in, so
// that the event stage and most codes are exercised.
inline std::vector<SampleRecord> randomStream(uint32_t seed, int length, bool wild) {
  std::mt19937 engine(seed);
  std::vector<SampleRecord> samples;
  samples.reserve(static_cast<std::size_t>(length));
  const auto draw = [&](int low, int high) {
    return static_cast<int16_t>(std::uniform_int_distribution<int>(low, high)(engine));
  };
  int phase = 0;  // 0 upright, 1 free fall, 2 impact, 3 lying, 4 turning
  int left = 0;
  for (int i = 0; i < length; ++i) {
    if (wild) {
      samples.push_back(SampleRecord{draw(-32768, 32767), draw(-32768, 32767), draw(-32768, 32767),
                                     draw(-32768, 32767), draw(-32768, 32767),
                                     draw(-32768, 32767)});
      continue;
    }
    if (left-- <= 0) {
      phase = draw(0, 4);
      left = phase == 2 ? draw(1, 5) : draw(5, 60);
    }
    switch (phase) {
      case 1:
        samples.push_back(SampleRecord{draw(-800, 800), draw(-800, 800), draw(-800, 800),
                                       draw(-3000, 3000), draw(-3000, 3000), draw(-3000, 3000)});
        break;
      case 2:
        samples.push_back(SampleRecord{draw(-12000, 12000), draw(-30000, -5000),
                                       draw(-12000, 12000), draw(-20000, 20000),
                                       draw(-20000, 20000), draw(-20000, 20000)});
        break;
      case 3:
        samples.push_back(SampleRecord{draw(-600, 600), draw(-600, 600), draw(7600, 8800),
                                       draw(-300, 300), draw(-300, 300), draw(-300, 300)});
        break;
      case 4:
        samples.push_back(SampleRecord{draw(-9000, 9000), draw(-20000, -9000), draw(-9000, 9000),
                                       draw(-25000, 25000), draw(-25000, 25000),
                                       draw(-25000, 25000)});
        break;
      default:
        samples.push_back(SampleRecord{draw(-600, 600), draw(-8800, -7600), draw(-600, 600),
                                       draw(-300, 300), draw(-300, 300), draw(-300, 300)});
        break;
    }
  }
  return samples;
}

}  // namespace detectortest
