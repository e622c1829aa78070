// Kernel values on prepared rows. Every coordinate sum runs in increasing
// coordinate order from -0.0, so each backend computes the very same value
// for a pair and the backends agree bit for bit. Width is a compile-time
// constant for one-dimensional rows (the common case, where a runtime loop
// of one iteration costs as much as the arithmetic) and 0 for any width.
#pragma once

#include <cmath>
#include <cstddef>

namespace tarnwell {

template <std::size_t FixedWidth>
struct RowAccess {
  const double* rows;
  std::size_t runtime_width;

  std::size_t width() const noexcept { return FixedWidth != 0 ? FixedWidth : runtime_width; }
  const double* row(std::size_t index) const noexcept { return rows + index * width(); }
};

// linear (rows centred on row 0) and cosine (rows normalised): K(i, j) = <p_i, p_j>.
template <std::size_t FixedWidth = 0>
struct InnerProductKernel : RowAccess<FixedWidth> {
  double operator()(std::size_t i, std::size_t j) const noexcept {
    const double* a = this->row(i);
    const double* b = this->row(j);
    const std::size_t width = this->width();
    double sum = -0.0;
    for (std::size_t k = 0; k < width; ++k) sum += a[k] * b[k];
    return sum;
  }
  double diagonal(std::size_t i) const noexcept { return (*this)(i, i); }
};

// rbf: K(i, j) = exp(-gamma |x_i - x_j|^2); K(i, i) is exactly 1.
template <std::size_t FixedWidth = 0>
struct RbfKernel : RowAccess<FixedWidth> {
  double gamma;

  double operator()(std::size_t i, std::size_t j) const noexcept {
    const double* a = this->row(i);
    const double* b = this->row(j);
    const std::size_t width = this->width();
    double sum = -0.0;
    for (std::size_t k = 0; k < width; ++k) {
      const double difference = a[k] - b[k];
      sum += difference * difference;
    }
    return std::exp(sum * -gamma);
  }
  double diagonal(std::size_t) const noexcept { return std::exp(0.0 * -gamma); }
};

}  // namespace tarnwell
