#include "cost/rank/rank_pruning.hpp"

#include <algorithm>
#include <cmath>

#include "cost/linear_algebra/symmetric_matrix.hpp"
#include "cost/pruning/pruning_margin.hpp"

namespace tarnwell {

std::optional<RankRangeStatistics> RankRangeStatistics::create(const RankCost& cost) {
  std::optional<std::vector<double>> factor =
      positive_semidefinite_factor(cost.precision(), static_cast<std::size_t>(cost.n_features()));
  if (!factor) return std::nullopt;
  return RankRangeStatistics(cost, std::move(*factor));
}

RankRangeStatistics::RankRangeStatistics(const RankCost& cost, std::vector<double> factor)
    : cost_(&cost), factor_(std::move(factor)), d_(static_cast<std::size_t>(cost.n_features())) {
  for (const double value : factor_) factor_norm_ += value * value;
  factor_norm_ = std::sqrt(factor_norm_);
  // ‖P‖ ≤ ‖L‖², and a centred rank is at most n / 2 in magnitude.
  const double half = 0.5 * static_cast<double>(cost.n_samples());
  const double features = static_cast<double>(d_);
  error_unit_ = 0x1p-44 * features * features * factor_norm_ * factor_norm_ * half * half;
}

RangeSquares RankRangeStatistics::range(std::uint64_t a, std::uint64_t b, double* sums) const noexcept {
  const std::size_t d = d_;
  const double* sum_a = cost_->rank_prefix_row(a);
  const double* sum_b = cost_->rank_prefix_row(b);
  double delta_norm = 0.0;
  for (std::size_t j = 0; j < d; ++j) sums[j] = 0.0;
  for (std::size_t k = 0; k < d; ++k) {
    const double delta = sum_b[k] - sum_a[k];  // exact
    delta_norm += delta * delta;
    for (std::size_t j = 0; j < d; ++j) sums[j] += factor_[k * d + j] * delta;
  }
  return {0.0, 0x1p-50 * static_cast<double>(d) * factor_norm_ * std::sqrt(delta_norm)};
}

namespace {

// The sum of ‖z_i‖² = r_i^T P r_i over the samples before each position, each
// term rounded up a little so that the floors stay below the losses.
std::vector<double> rank_floors(const RankCost& cost) {
  const std::size_t d = static_cast<std::size_t>(cost.n_features());
  const std::uint64_t n = cost.n_samples();
  const std::span<const double> precision = cost.precision();
  std::vector<double> floors(n + 1, 0.0);
  std::vector<double> rank(d);
  double total = 0.0;
  for (std::uint64_t t = 0; t < n; ++t) {
    const double* before = cost.rank_prefix_row(t);
    const double* after = cost.rank_prefix_row(t + 1);
    for (std::size_t k = 0; k < d; ++k) rank[k] = after[k] - before[k];
    double quadratic = 0.0;
    double magnitude = 0.0;
    for (std::size_t i = 0; i < d; ++i) {
      for (std::size_t j = 0; j < d; ++j) {
        quadratic += rank[i] * precision[i * d + j] * rank[j];
        magnitude += std::fabs(rank[i] * precision[i * d + j] * rank[j]);
      }
    }
    total += std::max(quadratic, 0.0) + 0x1p-44 * magnitude;
    floors[t + 1] = -total * (1.0 + 0x1p-44);
  }
  return floors;
}

}  // namespace

RankPruningTest::RankPruningTest(RankRangeStatistics statistics, double pen, const TieRule& tie)
    : floors_(rank_floors(statistics.cost())),
      error_(statistics.cost_error(statistics.cost().n_samples())),
      // Every optimum lies between −pen and minus the sum of all ‖z_i‖² (a
      // segment's cost is at least minus its samples' sum).
      test_(statistics, pruning_margin(tie, pen + std::fabs(floors_.back()), error_)) {}

double RankPruningTest::chain_bound(std::uint64_t a, std::uint64_t b) const {
  const RankRangeStatistics& statistics = test_.statistics();
  if (b - a < 2) return floor_prefix(b) - floor_prefix(a);
  const Result<double> value = statistics.cost().segment_cost(a, b);
  return value ? *value - statistics.cost_error(b - a) : floor_prefix(b) - floor_prefix(a);
}

std::optional<RankPruningTest> pelt_pruning_test(const RankCost& cost, double pen, std::uint64_t, std::uint64_t,
                                                 const TieRule& tie) {
  std::optional<RankRangeStatistics> statistics = RankRangeStatistics::create(cost);
  if (!statistics) return std::nullopt;
  return RankPruningTest(std::move(*statistics), pen, tie);
}

}  // namespace tarnwell
