// Prefix statistics from which the within-segment scatter matrix
// S = sum_t (x_t - mean)(x_t - mean)^T of any segment follows in O(d^2):
// running sums of the samples and of their outer products, both centred on
// the first sample so that a signal far from zero keeps its precision.
// Shared by the Normal and Mahalanobis costs.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <span>
#include <vector>

#include "core/signal.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class ScatterStatistics {
 public:
  static Result<ScatterStatistics> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }

  // Writes the symmetric d x d scatter of [start, end) row-major into `out`
  // (d * d values). Fails on an invalid segment or one shorter than `minimum`.
  Status segment_scatter(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::span<double> out) const;

  // The one-feature case of segment_scatter, the same arithmetic, for a
  // segment the caller has checked.
  double single_feature_scatter(std::uint64_t start, std::uint64_t end) const noexcept {
    const double delta = prefix_sums_[end] - prefix_sums_[start];
    return (prefix_products_[end] - prefix_products_[start]) - (delta * delta) / static_cast<double>(end - start);
  }

  // The size of what a segment scatter subtracts: the Frobenius norms of the
  // two prefix outer-product blocks, added. Their running-sum round-off is
  // relative to this, not to the (possibly tiny) scatter itself.
  double subtracted_magnitude(std::uint64_t start, std::uint64_t end) const noexcept;

  // Row `position` of the prefix tables: d sums and d x d outer-product sums
  // of the centred samples before `position`.
  const double* prefix_sum_row(std::uint64_t position) const noexcept {
    return prefix_sums_.data() + position * n_features_;
  }
  const double* prefix_product_row(std::uint64_t position) const noexcept {
    return prefix_products_.data() + position * n_features_ * n_features_;
  }

  // The saved form of the fitted statistics (pickling); restore checks every
  // size against the others and fails on a damaged or inconsistent state.
  void save(StateWriter& out) const;
  static Result<ScatterStatistics> restore(StateReader& in);

 private:
  ScatterStatistics() = default;

  std::vector<double> prefix_sums_;      // (n + 1) x d; row r sums the centred samples before r
  std::vector<double> prefix_products_;  // (n + 1) blocks of d x d outer-product sums
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
};

}  // namespace tarnwell
