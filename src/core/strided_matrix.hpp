// A read-only view of caller memory in any layout: element (t, j) lives at
// data + t * row_stride + j * column_stride bytes. Views are always walked in
// logical order (row by row, feature by feature), never in memory order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

struct StridedMatrix {
  const std::byte* data = nullptr;
  std::uint64_t n_samples = 0;
  std::uint64_t n_features = 0;
  std::int64_t row_stride = 0;
  std::int64_t column_stride = 0;

  double at(std::uint64_t row, std::uint64_t column) const noexcept {
    double value;
    // memcpy tolerates unaligned views and compiles to a plain load otherwise.
    std::memcpy(&value,
                data + static_cast<std::int64_t>(row) * row_stride + static_cast<std::int64_t>(column) * column_stride,
                sizeof value);
    return value;
  }
};

struct SignalShape {
  std::uint64_t n_samples = 0;
  std::uint64_t n_features = 0;
};

// Dimensionality, then non-emptiness: a (0, 3) array fails the second rule.
Result<SignalShape> check_signal_shape(std::size_t ndim, std::span<const std::uint64_t> extents);

// The first non-finite value in row-major order, reported with its row and column.
Status check_finite(const StridedMatrix& view);

// Finite means the magnitude bits do not exceed those of the largest double.
inline bool is_finite_value(double value) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return (bits & 0x7fffffffffffffffULL) <= 0x7fefffffffffffffULL;
}

}  // namespace tarnwell
