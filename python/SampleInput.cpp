#include "SampleInput.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

namespace py = pybind11;

namespace velmora_python {
namespace {

constexpr py::ssize_t kChannels = 6;
static_assert(sizeof(SampleRecord) == kChannels * sizeof(int16_t),
              "SampleRecord must be six packed int16 values");

std::string shapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < array.ndim(); ++d) {
    text += (d == 0 ? "" : ", ") + std::to_string(array.shape(d));
  }
  return text + (array.ndim() == 1 ? ",)" : ")");
}

std::string cellName(py::ssize_t row, py::ssize_t column) {
  return "samples[" + std::to_string(row) + ", " + std::to_string(column) + "]";
}

// Reads element (row, column) of a native-endian array of T, checks it and
// returns it as a count.
template <typename T>
int16_t countAt(const char* base, py::ssize_t stride0, py::ssize_t stride1, py::ssize_t row,
                py::ssize_t column) {
  T value;
  std::memcpy(&value, base + row * stride0 + column * stride1, sizeof value);
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(value)) {
      throw py::value_error(cellName(row, column) + " is NaN; samples must be whole counts");
    }
    if (!(value >= -32768.0 && value <= 32767.0)) {
      throw py::value_error(cellName(row, column) + " = " + std::to_string(value) +
                            " does not fit in int16 (-32768..32767)");
    }
    if (value != std::trunc(value)) {
      throw py::value_error(cellName(row, column) + " = " + std::to_string(value) +
                            " is not a whole number of counts");
    }
  } else {
    if (std::cmp_less(value, std::numeric_limits<int16_t>::min()) ||
        std::cmp_greater(value, std::numeric_limits<int16_t>::max())) {
      throw py::value_error(cellName(row, column) + " = " + std::to_string(value) +
                            " does not fit in int16 (-32768..32767)");
    }
  }
  return static_cast<int16_t>(value);
}

template <typename T>
void convert(const py::array& array, std::vector<SampleRecord>& out) {
  const auto rows = array.shape(0);
  const auto* base = static_cast<const char*>(array.data());
  const auto stride0 = array.strides(0);
  const auto stride1 = array.strides(1);
  out.resize(static_cast<std::size_t>(rows));
  for (py::ssize_t row = 0; row < rows; ++row) {
    int16_t values[kChannels];
    for (py::ssize_t column = 0; column < kChannels; ++column) {
      values[column] = countAt<T>(base, stride0, stride1, row, column);
    }
    std::memcpy(&out[static_cast<std::size_t>(row)], values, sizeof values);
  }
}

bool isNative(const py::dtype& dtype) {
  const char order = dtype.byteorder();
  return order == '=' || order == '|' ||
         (order == (std::endian::native == std::endian::little ? '<' : '>'));
}

}  // namespace

SampleInput::SampleInput(const py::handle& samples) {
  array_ = py::module_::import("numpy").attr("asarray")(samples).cast<py::array>();
  if (array_.ndim() != 2 || array_.shape(1) != kChannels) {
    throw py::value_error("samples must have shape (N, 6) (ax, ay, az, gx, gy, gz); got shape " +
                          shapeText(array_));
  }
  count_ = static_cast<std::size_t>(array_.shape(0));
  py::dtype dtype = array_.dtype();
  const char kind = dtype.kind();
  if (kind != 'i' && kind != 'u' && kind != 'f') {
    throw py::type_error("samples must hold integer counts; got dtype " +
                         py::str(dtype).cast<std::string>());
  }
  const bool cOrder = (array_.flags() & py::array::c_style) != 0;
  if (kind == 'i' && dtype.itemsize() == 2 && isNative(dtype) && cOrder) {
    bytes_ = static_cast<const unsigned char*>(array_.data());
    return;
  }
  // Unusual layouts (byte-swapped, half or extended precision) are first
  // brought to a native type numpy converts to without losing values.
  if (!isNative(dtype) || (kind == 'f' && dtype.itemsize() != 4 && dtype.itemsize() != 8)) {
    const char* target = kind == 'i' ? "int64" : kind == 'u' ? "uint64" : "float64";
    array_ = array_.attr("astype")(target).cast<py::array>();
    dtype = array_.dtype();
  }
  switch (kind) {
    case 'i':
      switch (dtype.itemsize()) {
        case 1:
          convert<int8_t>(array_, converted_);
          break;
        case 2:
          convert<int16_t>(array_, converted_);
          break;
        case 4:
          convert<int32_t>(array_, converted_);
          break;
        default:
          convert<int64_t>(array_, converted_);
          break;
      }
      break;
    case 'u':
      switch (dtype.itemsize()) {
        case 1:
          convert<uint8_t>(array_, converted_);
          break;
        case 2:
          convert<uint16_t>(array_, converted_);
          break;
        case 4:
          convert<uint32_t>(array_, converted_);
          break;
        default:
          convert<uint64_t>(array_, converted_);
          break;
      }
      break;
    default:
      if (dtype.itemsize() == 4) {
        convert<float>(array_, converted_);
      } else {
        convert<double>(array_, converted_);
      }
      break;
  }
  array_ = py::array();  // the converted copy is all that is needed now
  bytes_ = reinterpret_cast<const unsigned char*>(converted_.data());
}

}  // namespace velmora_python
