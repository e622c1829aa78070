// Owned, immutable, row-major signal storage: value (t, j) at t * n_features + j.
// Invariants: n_samples >= 1, n_features >= 1, every value finite.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/strided_matrix.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class Signal {
 public:
  // Checks the storage size (rule: n * d fits 64 bits), the buffer length and finiteness.
  static Result<Signal> create(std::vector<double> values, std::uint64_t n_samples, std::uint64_t n_features);
  // Copies a shape-checked view once, in logical order.
  static Result<Signal> copy_from(const StridedMatrix& view);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::span<const double> values() const noexcept { return values_; }

  // The contiguous values of row t, or nothing when t is out of range or its
  // offset overflows; callers report that as a numerical failure in their context.
  std::optional<std::span<const double>> row(std::uint64_t t) const noexcept;

 private:
  Signal(std::vector<double> values, std::uint64_t n_samples, std::uint64_t n_features)
      : values_(std::move(values)), n_samples_(n_samples), n_features_(n_features) {}

  std::vector<double> values_;
  std::uint64_t n_samples_;
  std::uint64_t n_features_;
};

// Product of two sizes, or nothing on 64-bit overflow.
std::optional<std::uint64_t> checked_product(std::uint64_t left, std::uint64_t right) noexcept;

// Per-sample weights: exactly n_samples entries, each finite and not negative.
Result<std::vector<double>> take_weights(const StridedMatrix& weights, std::uint64_t n_samples);

}  // namespace tarnwell
