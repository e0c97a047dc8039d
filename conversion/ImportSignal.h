// The numeric core of every importer: ordering time stamps, resampling to
// the detector's 50 samples per second, and turning physical values into
// the detector's signed 16-bit counts.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "RecordingReader.h"
#include "Velmora.h"

namespace importsignal {

// The detector's input (Velmora.h): 50 samples/s, 8192 counts per g,
// 65.536 counts per deg/s (a +-4 g / +-500 deg/s sensor).
constexpr double kOutputRate = kVelmoraSamplesPerSecond;
constexpr double kOutputPeriodMs = kVelmoraSamplePeriodMs;
using ::kVelmoraCountsPerDps;
using ::kVelmoraCountsPerG;
constexpr double kStandardGravity = 9.80665;  // m/s^2 per g

// Input samples one file may hold (about 14 hours at 200 samples/s): the
// limit of every program that holds a recording's samples. The importer
// holds 12 bytes per output sample; rows that must be sorted (or resampled
// by sinc) are held too, 56 bytes each (time stamp and six values).
constexpr std::size_t kMaxInputSamples = kMaxRecordingSamples;

// Six values per sample: acceleration x, y, z, then angular rate x, y, z,
// already in the detector's axes, in the source's units.
using Values = std::array<double, 6>;

template <std::size_t N>
struct Timed {
  double time;  // ms
  std::array<double, N> values;
};

// Sorts by time stamp (stable, so equal stamps keep file order) and
// replaces each run of equal stamps by its mean: the values summed in file
// order starting from 0, then divided by their count. The order is found
// on 4-byte positions and then applied in place, so that sorting takes 4
// bytes per sample beside the samples (a stable sort of the samples
// themselves would take half their size again); samples already in order
// are not sorted at all.
template <std::size_t N>
void sortAndMerge(std::vector<Timed<N>>& samples) {
  const auto earlier = [](const Timed<N>& a, const Timed<N>& b) { return a.time < b.time; };
  if (!std::is_sorted(samples.begin(), samples.end(), earlier)) {
    if (samples.size() > UINT32_MAX) {
      std::stable_sort(samples.begin(), samples.end(), earlier);
    } else {
      // order[k]: the position of the sample that goes to k; ties keep file order.
      std::vector<uint32_t> order(samples.size());
      for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = static_cast<uint32_t>(k);
      }
      std::sort(order.begin(), order.end(), [&samples](uint32_t a, uint32_t b) {
        return samples[a].time < samples[b].time || (samples[a].time == samples[b].time && a < b);
      });
      // Each cycle of the permutation moved through one spare sample; a
      // position done is marked by order[k] == k.
      for (std::size_t k = 0; k < order.size(); ++k) {
        if (order[k] == k) {
          continue;
        }
        const Timed<N> spare = samples[k];
        std::size_t to = k;
        for (;;) {
          const std::size_t from = order[to];
          order[to] = static_cast<uint32_t>(to);
          if (from == k) {
            samples[to] = spare;
            break;
          }
          samples[to] = samples[from];
          to = from;
        }
      }
    }
  }
  std::size_t out = 0;
  for (std::size_t i = 0; i < samples.size();) {
    std::size_t j = i;
    std::array<double, N> sum{};
    while (j < samples.size() && samples[j].time == samples[i].time) {
      for (std::size_t axis = 0; axis < N; ++axis) {
        sum[axis] += samples[j].values[axis];
      }
      ++j;
    }
    Timed<N> merged{samples[i].time, {}};
    for (std::size_t axis = 0; axis < N; ++axis) {
      merged.values[axis] = sum[axis] / static_cast<double>(j - i);
    }
    samples[out++] = merged;
    i = j;
  }
  samples.resize(out);
}

// The 20 ms grid over [first, last]: floor((last - first) / 20) + 1 times
// first + 20 k (0 when last < first).
[[nodiscard]] std::size_t gridLength(double firstMs, double lastMs);

// Linear interpolation of a sorted, merged stream s_0 .. s_L at the times
// first + 20 k ms, k = 0 .. count-1. An index j starts at 0 and advances
// while j < L - 1 and the next stamp is at or before t; then a = s_j,
// b = s_min(j+1, L), and the value is a when tb <= ta or t <= ta, b when
// t >= tb, else a + u (b - a) with u = (t - ta) / (tb - ta).
template <std::size_t N>
[[nodiscard]] std::vector<std::array<double, N>> interpolateOnGrid(
    const std::vector<Timed<N>>& stream, double firstMs, std::size_t count) {
  std::vector<std::array<double, N>> out;
  if (stream.empty()) {
    return out;
  }
  out.reserve(count);
  const std::size_t last = stream.size() - 1;  // L
  std::size_t j = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const double t = firstMs + kOutputPeriodMs * static_cast<double>(k);
    while (j + 1 < last && stream[j + 1].time <= t) {
      ++j;
    }
    const Timed<N>& a = stream[j];
    const Timed<N>& b = stream[std::min(j + 1, last)];
    std::array<double, N> value{};
    if (b.time <= a.time || t <= a.time) {
      value = a.values;
    } else if (t >= b.time) {
      value = b.values;
    } else {
      const double u = (t - a.time) / (b.time - a.time);
      for (std::size_t axis = 0; axis < N; ++axis) {
        value[axis] = a.values[axis] + u * (b.values[axis] - a.values[axis]);
      }
    }
    out.push_back(value);
  }
  return out;
}

// Grid interpolation as samples come: rows with increasing time stamps in,
// values at first + 20 k ms out, each as soon as the row at or after its
// time has arrived. Over a whole sorted, merged stream it gives what
// interpolateOnGrid() gives (finishTo() adds the grid points at the very
// end that the row times alone do not reach).
class GridInterpolator {
 public:
  // Starts a new grid at the next row's time.
  void reset() {
    started_ = false;
    next_ = 0;
  }

  // One row, later than the one before (the caller orders and merges);
  // calls emit(const Values&) for every grid point up to its time.
  template <typename Emit>
  void add(const Timed<6>& row, Emit&& emit) {
    if (!started_) {
      started_ = true;
      first_ = row.time;
      previous_ = row;
    }
    const Timed<6>& a = previous_;
    const Timed<6>& b = row;
    for (;; ++next_) {
      const double t = first_ + kOutputPeriodMs * static_cast<double>(next_);
      if (!(t <= b.time)) {
        break;
      }
      if (b.time <= a.time || t <= a.time) {
        emit(a.values);
      } else if (t >= b.time) {
        emit(b.values);
      } else {
        const double u = (t - a.time) / (b.time - a.time);
        std::array<double, 6> value{};
        for (std::size_t axis = 0; axis < 6; ++axis) {
          value[axis] = a.values[axis] + u * (b.values[axis] - a.values[axis]);
        }
        emit(value);
      }
    }
    previous_ = row;
  }

  // At the end: the grid points up to gridLength(first, last row's time)
  // not emitted yet take the last row's values.
  template <typename Emit>
  void finishTo(Emit&& emit) {
    if (!started_) {
      return;
    }
    for (const std::size_t count = gridLength(first_, previous_.time); next_ < count; ++next_) {
      emit(previous_.values);
    }
  }

  // Grid points emitted since the start.
  [[nodiscard]] std::size_t emitted() const { return next_; }
  [[nodiscard]] bool started() const { return started_; }
  [[nodiscard]] double firstMs() const { return first_; }

 private:
  bool started_ = false;
  double first_ = 0.0;
  Timed<6> previous_{};
  std::size_t next_ = 0;
};

// Means of consecutive groups of `group` samples as samples come: every
// `group`th sample completes one (the values summed from 0 in order, then
// divided).
class GroupMean {
 public:
  explicit GroupMean(std::size_t group) : group_(group) {}

  // Returns true, with `mean` filled, when `values` completes a group.
  bool add(const Values& values, Values& mean) {
    for (std::size_t axis = 0; axis < sum_.size(); ++axis) {
      sum_[axis] += values[axis];
    }
    if (++count_ < group_) {
      return false;
    }
    for (std::size_t axis = 0; axis < sum_.size(); ++axis) {
      mean[axis] = sum_[axis] / static_cast<double>(group_);
    }
    reset();
    return true;
  }

  // Drops a partly summed group.
  void reset() {
    sum_ = {};
    count_ = 0;
  }

  [[nodiscard]] std::size_t group() const { return group_; }

 private:
  std::size_t group_;
  Values sum_{};
  std::size_t count_ = 0;
};

// Means of consecutive groups of `group` samples (summed from 0 in order,
// then divided); a trailing incomplete group is dropped.
[[nodiscard]] std::vector<Values> meanOfGroups(const std::vector<Values>& samples,
                                               std::size_t group);

// True when the band-limited converter was built in.
[[nodiscard]] bool sincAvailable();

// Band-limited conversion from `sourceRate` to 50 samples/s (libsamplerate's
// best sinc converter); output sample k stands for the time k x 20 ms after
// the first input sample. Empty error on success.
[[nodiscard]] std::string resampleSinc(const std::vector<Values>& samples, double sourceRate,
                                       std::vector<Values>& out);
// The same over `count` samples handed out by valueAt(k), for a caller that
// holds them in another form (with their time stamps, say).
[[nodiscard]] std::string resampleSinc(std::size_t count,
                                       const std::function<const Values&(std::size_t)>& valueAt,
                                       double sourceRate, std::vector<Values>& out);

// Output counts and what happened on the way there.
struct CountedSamples {
  std::vector<SampleRecord> samples;
  int64_t clampedAccSamples = 0;   // samples with an acceleration axis clamped
  int64_t clampedGyroSamples = 0;  // samples with an angular-rate axis clamped
  int64_t impactSample = -1;       // first sample with the largest |acc| before rounding
  double impactG = 0.0;            // that magnitude in g
};

// One sample in counts: value x factor rounded half up (floor(v + 0.5)) and
// clamped to the signed 16-bit range; sets the flags when an acceleration or
// angular-rate axis was clamped. `scaled` receives the values before rounding.
[[nodiscard]] SampleRecord countSample(const Values& values, double accFactor, double gyroFactor,
                                       Values& scaled, bool& accClamped, bool& gyroClamped);

// Counts sample by sample, as the values come: each value through
// countSample(), the clamped samples counted and the largest |acc| found.
class SampleCounter {
 public:
  SampleCounter(double accFactor, double gyroFactor)
      : accFactor_(accFactor), gyroFactor_(gyroFactor) {}

  // Room for `count` samples, so that they are held without the slack of a
  // growing array.
  void reserve(std::size_t count) { counted_.samples.reserve(count); }
  void add(const Values& values);
  [[nodiscard]] std::size_t size() const { return counted_.samples.size(); }
  // The samples so far, with the impact's magnitude filled in.
  [[nodiscard]] CountedSamples take();

 private:
  double accFactor_;
  double gyroFactor_;
  CountedSamples counted_;
  double largestSquare_ = -1.0;
};

// value x factor rounded half up (floor(v + 0.5)) and clamped to the signed
// 16-bit range; accFactor and gyroFactor turn source units into counts.
[[nodiscard]] CountedSamples toCounts(const std::vector<Values>& samples, double accFactor,
                                      double gyroFactor);
// The same over `count` samples handed out in order by valueAt(k), for a
// caller that holds them in another form (with their time stamps, say).
[[nodiscard]] CountedSamples toCounts(std::size_t count,
                                      const std::function<const Values&(std::size_t)>& valueAt,
                                      double accFactor, double gyroFactor);

}  // namespace importsignal
