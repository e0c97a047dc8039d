// Dense row-major matrix whose storage block is shared between copies and
// copied on the first write through a shared copy.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <valarray>

namespace velmora::algebra {

template <typename T>
struct MatrixStorage {
  MatrixStorage(uint32_t rowCount, uint32_t colCount)
      : values(T(), static_cast<std::size_t>(rowCount) * colCount),
        rows(rowCount),
        cols(colCount) {}

  std::valarray<T> values;
  uint32_t rows;
  uint32_t cols;
  int32_t refCount = 1;
};

template <typename T>
class matrix {
 public:
  // Write access to one element; lives only for the assigning expression.
  class ElementRef {
   public:
    ElementRef(matrix& owner, std::size_t index) : owner_(owner), index_(index) {}

    T& operator=(const T& value) {
      owner_.detach();
      T& element = owner_.storage_->values[index_];
      element = value;
      return element;
    }

    operator T() const { return owner_.storage_->values[index_]; }

   private:
    matrix& owner_;
    std::size_t index_;
  };

  matrix(uint32_t rows, uint32_t cols) : storage_(new MatrixStorage<T>(rows, cols)) {}

  matrix(const matrix& other) : storage_(other.storage_) { ++storage_->refCount; }

  matrix& operator=(const matrix& other) {
    // Sharing the block already (self-assignment included) changes nothing.
    if (this != &other && storage_ != other.storage_) {
      release();
      storage_ = other.storage_;
      ++storage_->refCount;
    }
    return *this;
  }

  ~matrix() { release(); }

  ElementRef operator()(uint32_t row, uint32_t col) {
    checkRange(row, col);
    return ElementRef(*this, static_cast<std::size_t>(row) * storage_->cols + col);
  }

  T operator()(uint32_t row, uint32_t col) const {
    checkRange(row, col);
    return storage_->values[static_cast<std::size_t>(row) * storage_->cols + col];
  }


 private:
  void checkRange(uint32_t row, uint32_t col) const {
    if (row >= storage_->rows || col >= storage_->cols) {
      throw std::out_of_range("matrix<T>::operator(): subscript is out of range!");
    }
  }

  // Gives this matrix a block of its own before a write when it is shared.
  void detach() {
    if (storage_->refCount > 1) {
      auto* own = new MatrixStorage<T>(storage_->rows, storage_->cols);
      own->values = storage_->values;
      --storage_->refCount;
      storage_ = own;
    }
  }

  void release() {
    if (--storage_->refCount == 0) {
      delete storage_;
    }
  }

  MatrixStorage<T>* storage_;
};

}  // namespace velmora::algebra
