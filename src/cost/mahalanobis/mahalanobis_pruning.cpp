#include "cost/mahalanobis/mahalanobis_pruning.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cost/linear_algebra/symmetric_matrix.hpp"
#include "cost/pruning/pruning_margin.hpp"

namespace tarnwell {

std::optional<MetricRangeStatistics> MetricRangeStatistics::create(const MahalanobisCost& cost) {
  std::optional<std::vector<double>> factor =
      positive_semidefinite_factor(cost.metric(), static_cast<std::size_t>(cost.n_features()));
  if (!factor) return std::nullopt;
  return MetricRangeStatistics(cost, std::move(*factor));
}

MetricRangeStatistics::MetricRangeStatistics(const MahalanobisCost& cost, std::vector<double> factor)
    : scatter_(&cost.scatter()),
      metric_(cost.metric()),
      factor_(std::move(factor)),
      d_(static_cast<std::size_t>(cost.n_features())) {
  for (const double value : factor_) factor_norm_ += value * value;
  factor_norm_ = std::sqrt(factor_norm_);
  double metric_norm = 0.0;
  for (const double value : metric_) metric_norm += value * value;
  metric_norm = std::sqrt(metric_norm);
  const std::uint64_t n = cost.n_samples();
  for (std::uint64_t t = 0; t <= n; ++t) {
    const double* row = scatter_->prefix_sum_row(t);
    for (std::size_t k = 0; k < d_; ++k) largest_sum_ = std::max(largest_sum_, std::fabs(row[k]));
  }
  // The diagonal of the outer-product sums grows with the row, so the last
  // row holds the largest entries.
  double largest_product = 0.0;
  const double* last = scatter_->prefix_product_row(n);
  for (std::size_t k = 0; k < d_; ++k) largest_product = std::max(largest_product, std::fabs(last[k * d_ + k]));
  const double features = static_cast<double>(d_);
  // Each entry of a range's scatter: the rounding of every prefix row in the
  // range (relative to the largest entry) and the mean's term (relative to
  // the squared largest sum); tr(M S) adds them up under the metric.
  error_unit_ = 0x1p-48 * metric_norm * features * largest_product;
  error_floor_ = 0x1p-45 * metric_norm * features * (largest_product + largest_sum_ * largest_sum_ + 1.0);
}

RangeSquares MetricRangeStatistics::range(std::uint64_t a, std::uint64_t b, double* sums) const noexcept {
  const std::size_t d = d_;
  const double* sum_a = scatter_->prefix_sum_row(a);
  const double* sum_b = scatter_->prefix_sum_row(b);
  const double* product_a = scatter_->prefix_product_row(a);
  const double* product_b = scatter_->prefix_product_row(b);
  double squares = 0.0;
  double delta_norm = 0.0;
  for (std::size_t j = 0; j < d; ++j) sums[j] = 0.0;
  for (std::size_t k = 0; k < d; ++k) {
    const double delta = sum_b[k] - sum_a[k];
    delta_norm += delta * delta;
    for (std::size_t j = 0; j < d; ++j) sums[j] += factor_[k * d + j] * delta;  // L^T delta
    for (std::size_t l = 0; l < d; ++l) squares += metric_[k * d + l] * (product_b[k * d + l] - product_a[k * d + l]);
  }
  const double length = static_cast<double>(b - a);
  const double sum_error = 0x1p-50 * factor_norm_ *
                           (std::sqrt(static_cast<double>(d)) * (length + 1.0) * largest_sum_ +
                            static_cast<double>(d) * std::sqrt(delta_norm));
  return {squares, sum_error};
}

namespace {

// The largest value the search can meet: every optimum lies between −pen and
// the cost of the whole signal as one segment (costs are not negative).
double value_bound(const MahalanobisCost& cost, double pen) {
  const Result<double> whole = cost.segment_cost(0, cost.n_samples());
  return std::max(pen, whole ? *whole : std::numeric_limits<double>::infinity());
}

}  // namespace

MahalanobisPruningTest::MahalanobisPruningTest(const MahalanobisCost& cost, MetricRangeStatistics statistics,
                                               double pen, const TieRule& tie)
    : test_(General{SquaredDistanceTest<MetricRangeStatistics>(
                        statistics,
                        pruning_margin(tie, value_bound(cost, pen), statistics.cost_error(cost.n_samples()))),
                    &cost, statistics.cost_error(cost.n_samples())}) {}

bool MahalanobisPruningTest::dominated(const PruningQuery& query) {
  if (auto* squared = std::get_if<L2PruningTest>(&test_)) return squared->dominated(query);
  General& general = std::get<General>(test_);
  if (!is_finite_value(general.test.margin())) return false;
  return general.test.dominated(query);
}

double MahalanobisPruningTest::chain_bound(std::uint64_t a, std::uint64_t b) const {
  if (const auto* squared = std::get_if<L2PruningTest>(&test_)) return squared->chain_bound(a, b);
  const General& general = std::get<General>(test_);
  const Result<double> value = general.cost->segment_cost(a, b);
  return value ? *value - general.test.statistics().cost_error(b - a) : 0.0;
}

double MahalanobisPruningTest::chain_slack() const noexcept {
  if (const auto* squared = std::get_if<L2PruningTest>(&test_)) return squared->chain_slack();
  return 2.0 * std::get<General>(test_).error;
}

std::optional<MahalanobisPruningTest> pelt_pruning_test(const MahalanobisCost& cost, double pen,
                                                        std::uint64_t min_size, std::uint64_t jump,
                                                        const TieRule& tie) {
  if (const L2Cost* squared_error = cost.squared_error()) {
    std::optional<L2PruningTest> test = pelt_pruning_test(*squared_error, pen, min_size, jump, tie);
    if (!test) return std::nullopt;
    return MahalanobisPruningTest(std::move(*test));
  }
  std::optional<MetricRangeStatistics> statistics = MetricRangeStatistics::create(cost);
  if (!statistics) return std::nullopt;
  return MahalanobisPruningTest(cost, std::move(*statistics), pen, tie);
}

}  // namespace tarnwell
