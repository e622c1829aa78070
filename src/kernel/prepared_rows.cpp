#include "kernel/prepared_rows.hpp"

#include "core/fallible_allocation.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwell {
namespace {

Result<std::vector<double>> allocate_rows(std::uint64_t count) {
  return filled_buffer<double>(count, 0.0, "allocating prepared kernel rows");
}

Result<PreparedRows> centred_rows(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::span<const double>> reference = signal.row(0);
  if (!reference) return errors::fail(errors::numerical_failure("reading the linear kernel centering reference"));
  TARNWELL_TRY(values, allocate_rows(n * d));
  const std::span<const double> source = signal.values();
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t k = 0; k < d; ++k) {
      const double centred = source[i * d + k] - (*reference)[k];
      if (!std::isfinite(centred)) return errors::fail(errors::numerical_failure("centering linear kernel observations"));
      values[i * d + k] = centred;
    }
  }
  return PreparedRows{std::move(values), n, d};
}

// Dividing by the largest magnitude first keeps the squares from overflowing
// or underflowing; a zero row gets the extra coordinate 1, which makes it
// orthogonal to every non-zero row and parallel to every other zero row.
Result<PreparedRows> normalised_rows(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::uint64_t> size = checked_product(n, d + 1);
  if (d == UINT64_MAX || !size) return errors::fail(errors::numerical_failure("computing normalized cosine dimensions"));
  TARNWELL_TRY(values, allocate_rows(*size));
  const std::span<const double> source = signal.values();
  for (std::uint64_t i = 0; i < n; ++i) {
    const double* x = source.data() + i * d;
    double* u = values.data() + i * (d + 1);
    double largest = 0.0;
    for (std::uint64_t k = 0; k < d; ++k) largest = std::max(largest, std::fabs(x[k]));
    if (largest == 0.0) {
      u[d] = 1.0;
      continue;
    }
    double squares = -0.0;
    for (std::uint64_t k = 0; k < d; ++k) {
      const double scaled = x[k] / largest;
      squares += scaled * scaled;
    }
    const double norm = std::sqrt(squares);
    for (std::uint64_t k = 0; k < d; ++k) u[k] = (x[k] / largest) / norm;
    u[d] = 0.0;
  }
  return PreparedRows{std::move(values), n, d + 1};
}

Result<PreparedRows> copied_rows(const Signal& signal) {
  const std::span<const double> source = signal.values();
  TARNWELL_TRY(values, allocate_rows(source.size()));
  std::copy(source.begin(), source.end(), values.begin());
  return PreparedRows{std::move(values), signal.n_samples(), signal.n_features()};
}

}  // namespace

double mean_kernel_diagonal(std::span<const double> rows, std::uint64_t n, std::uint64_t width, KernelFamily family) {
  if (family == KernelFamily::rbf || n == 0) return 1.0;
  // Each row's squared norm in the kernel's own summation order, then their
  // mean; the rows are finite, so only an overflow of the total can end
  // non-finite, and the caller then keeps the relative rule alone.
  double total = 0.0;
  for (std::uint64_t i = 0; i < n; ++i) {
    double squares = -0.0;
    for (std::uint64_t k = 0; k < width; ++k) squares += rows[i * width + k] * rows[i * width + k];
    total += squares;
  }
  const double mean = total / static_cast<double>(n);
  return std::isfinite(mean) ? mean : 0.0;
}

Result<PreparedRows> prepare_rows(const Signal& signal, KernelFamily family) {
  switch (family) {
    case KernelFamily::linear:
      return centred_rows(signal);
    case KernelFamily::cosine:
      return normalised_rows(signal);
    case KernelFamily::rbf:
      break;
  }
  return copied_rows(signal);
}

}  // namespace tarnwell
