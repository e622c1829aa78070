// The rows a kernel is evaluated on, derived once from the fitted signal:
// linear rows are centred on row 0 (so costs ignore a constant offset and the
// inner products stay small), cosine rows are scaled to unit length with an
// extra coordinate for all-zero rows, rbf rows are a plain copy.
#pragma once

#include <cstdint>
#include <vector>

#include "core/signal.hpp"
#include "kernel/kernel_spec.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

struct PreparedRows {
  std::vector<double> values;  // n x width, row-major
  std::uint64_t n = 0;
  std::uint64_t width = 0;
};

// The mean of K(i, i) over the rows: 1 for rbf, the mean squared norm of the
// prepared rows for the inner-product kernels (linear, cosine).
double mean_kernel_diagonal(std::span<const double> rows, std::uint64_t n, std::uint64_t width, KernelFamily family);

Result<PreparedRows> prepare_rows(const Signal& signal, KernelFamily family);

}  // namespace tarnwell
