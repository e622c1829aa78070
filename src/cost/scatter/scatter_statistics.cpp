#include "cost/scatter/scatter_statistics.hpp"

#include <cmath>

#include "core/error/value_range.hpp"
#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocation_context = "allocating scatter prefix statistics";

}  // namespace

Result<ScatterStatistics> ScatterStatistics::fit(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::uint64_t> block = checked_product(d, d);
  const std::optional<std::uint64_t> sums_size = n == UINT64_MAX ? std::nullopt : checked_product(n + 1, d);
  const std::optional<std::uint64_t> products_size =
      block && n != UINT64_MAX ? checked_product(n + 1, *block) : std::nullopt;
  if (!sums_size || !products_size) return errors::fail(errors::numerical_failure(allocation_context));

  ScatterStatistics statistics;
  TARNWELL_TRY(sums, filled_buffer<double>(*sums_size, 0.0, allocation_context));
  TARNWELL_TRY(products, filled_buffer<double>(*products_size, 0.0, allocation_context));
  TARNWELL_TRY(centred, filled_buffer<double>(d, 0.0, allocation_context));
  // Compensated running sums: every row is within a few roundings of its
  // exact sum, so the difference of two rows (a segment's statistics) carries
  // that much error whatever the segment's length, instead of the rounding
  // of every row in between (which Pelt's pruning margins would have to
  // cover at the whole signal's length).
  TARNWELL_TRY(compensation, filled_buffer<double>(d + *block, 0.0, allocation_context));
  const auto add = [](double& sum, double& carry, double value) {
    const double corrected = value - carry;
    const double total = sum + corrected;
    carry = (total - sum) - corrected;
    sum = total;
  };
  TARNWELL_TRY(running, filled_buffer<double>(d + *block, 0.0, allocation_context));
  const std::span<const double> values = signal.values();
  const double* reference = values.data();
  for (std::uint64_t t = 0; t < n; ++t) {
    const double* row = values.data() + t * d;
    double* sum_after = sums.data() + (t + 1) * d;
    for (std::uint64_t j = 0; j < d; ++j) {
      const double c = row[j] - reference[j];
      if (!is_finite_value(c)) return errors::fail(errors::deviation_overflow(t, j, c, "products"));
      centred[j] = c;
      add(running[j], compensation[j], c);
      sum_after[j] = running[j];
    }
    double* product_after = products.data() + (t + 1) * *block;
    for (std::uint64_t k = 0; k < d; ++k) {
      for (std::uint64_t l = 0; l < d; ++l) {
        const double p = centred[k] * centred[l];
        if (!is_finite_value(p)) [[unlikely]] {
          const std::uint64_t farther = std::fabs(centred[k]) >= std::fabs(centred[l]) ? k : l;
          return errors::fail(errors::deviation_overflow(t, farther, centred[farther], "products"));
        }
        const std::uint64_t at = d + k * d + l;
        add(running[at], compensation[at], p);
        product_after[k * d + l] = running[at];
      }
    }
  }
  statistics.prefix_sums_ = std::move(sums);
  statistics.prefix_products_ = std::move(products);
  statistics.n_samples_ = n;
  statistics.n_features_ = d;
  return statistics;
}

Status ScatterStatistics::segment_scatter(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                          std::span<double> out) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, minimum));
  const std::size_t d = static_cast<std::size_t>(n_features_);
  const double length = static_cast<double>(end - start);
  const double* sum_start = prefix_sums_.data() + start * d;
  const double* sum_end = prefix_sums_.data() + end * d;
  const double* product_start = prefix_products_.data() + start * d * d;
  const double* product_end = prefix_products_.data() + end * d * d;
  for (std::size_t k = 0; k < d; ++k) {
    const double delta_k = sum_end[k] - sum_start[k];
    for (std::size_t l = 0; l < d; ++l) {
      const double delta_l = sum_end[l] - sum_start[l];
      out[k * d + l] = (product_end[k * d + l] - product_start[k * d + l]) - (delta_k * delta_l) / length;
    }
  }
  // Exactly symmetric, whatever the rounding of the two triangles.
  for (std::size_t k = 0; k < d; ++k) {
    for (std::size_t l = k + 1; l < d; ++l) {
      const double mean = (out[k * d + l] + out[l * d + k]) * 0.5;
      out[k * d + l] = mean;
      out[l * d + k] = mean;
    }
  }
  return {};
}

double ScatterStatistics::subtracted_magnitude(std::uint64_t start, std::uint64_t end) const noexcept {
  const std::size_t block = static_cast<std::size_t>(n_features_ * n_features_);
  const auto norm = [&](std::uint64_t row) {
    const double* values = prefix_products_.data() + row * block;
    double squares = 0.0;
    for (std::size_t i = 0; i < block; ++i) squares += values[i] * values[i];
    return std::sqrt(squares);
  };
  return norm(start) + norm(end);
}

}  // namespace tarnwell
