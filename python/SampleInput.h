// Turning whatever array-like a Python caller passes as samples into the
// detector's SampleRecord layout, checking every value on the way.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "Velmora.h"

namespace velmora_python {

// Samples of shape (N, 6): ax, ay, az, gx, gy, gz in raw counts. A C-ordered
// native int16 array is used in place; anything else (other integer or
// float dtypes, strided views, lists) is converted once, refusing values
// outside the int16 range, NaN and floats that are not whole numbers with
// ValueError, and dtypes that cannot hold counts with TypeError.
class SampleInput {
 public:
  explicit SampleInput(const pybind11::handle& samples);

  [[nodiscard]] std::size_t size() const { return count_; }

  // The i-th sample. Reads by copy, so the buffer needs no alignment.
  [[nodiscard]] SampleRecord at(std::size_t i) const {
    SampleRecord sample;
    std::memcpy(&sample, bytes_ + i * sizeof(SampleRecord), sizeof sample);
    return sample;
  }

 private:
  pybind11::array array_;  // keeps the caller's buffer alive when used in place
  std::vector<SampleRecord> converted_;
  const unsigned char* bytes_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace velmora_python
