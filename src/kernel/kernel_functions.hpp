// Kernel values on prepared rows. Every coordinate sum runs in increasing
// coordinate order from -0.0, so each backend computes the very same value
// for a pair and the backends agree bit for bit.
#pragma once

#include <cmath>
#include <cstddef>

namespace tarnwell {

// linear (rows centred on row 0) and cosine (rows normalised): K(i, j) = <p_i, p_j>.
struct InnerProductKernel {
  const double* rows;
  std::size_t width;

  const double* row(std::size_t index) const noexcept { return rows + index * width; }

  double operator()(std::size_t i, std::size_t j) const noexcept {
    const double* a = row(i);
    const double* b = row(j);
    double sum = -0.0;
    for (std::size_t k = 0; k < width; ++k) sum += a[k] * b[k];
    return sum;
  }
  double diagonal(std::size_t i) const noexcept { return (*this)(i, i); }
};

// rbf: K(i, j) = exp(-gamma |x_i - x_j|^2); K(i, i) is exactly 1.
struct RbfKernel {
  const double* rows;
  std::size_t width;
  double gamma;

  const double* row(std::size_t index) const noexcept { return rows + index * width; }

  double operator()(std::size_t i, std::size_t j) const noexcept {
    const double* a = row(i);
    const double* b = row(j);
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
