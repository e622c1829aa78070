// The buffer that receives one endpoint cost batch: the costs of [start, end)
// for many starts and one end. A search owns one and reuses it for every end
// position, so it grows rarely and never shrinks.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <span>

namespace tarnwell {

class EndpointBatch {
 public:
  // Empties the batch and makes room for `count` values, growing the capacity
  // to max(2 * capacity, count, 4). False when the allocation fails.
  bool prepare(std::size_t count) noexcept {
    size_ = 0;
    if (count <= capacity_) return true;
    std::size_t grown = capacity_ * 2;
    if (grown < count) grown = count;
    if (grown < 4) grown = 4;
    double* fresh = new (std::nothrow) double[grown];
    if (fresh == nullptr) return false;
    values_.reset(fresh);
    capacity_ = grown;
    return true;
  }

  // Appends within the prepared capacity.
  void push(double value) noexcept { values_[size_++] = value; }
  // Direct access for kernels that fill a prepared batch in one loop.
  double* data() noexcept { return values_.get(); }
  void set_size(std::size_t size) noexcept { size_ = size; }

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  std::span<const double> values() const noexcept { return {values_.get(), size_}; }
  double operator[](std::size_t index) const noexcept { return values_[index]; }

 private:
  std::unique_ptr<double[]> values_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarnwell
