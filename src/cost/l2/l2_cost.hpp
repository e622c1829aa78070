// Squared-error cost: the within-segment sum of squared deviations from the
// segment mean, summed over features, from prefix sums in O(d) per segment.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/l2/l2_functional_pruning.hpp"
#include "python/error/error_kind.hpp"

namespace tarnwell {

class L2Cost {
 public:
  // One pass over the values in logical row-major order, from any layout.
  static Result<L2Cost> fit(const StridedMatrix& view);
  static Result<L2Cost> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return 1; }
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // Pelt's functional pruning (one feature) for a search with this penalty,
  // minimum segment length and grid step; nothing for several features,
  // where the search keeps its inequality pruning alone.
  std::optional<L2FunctionalPruning> pelt_functional_pruning(double pen, std::uint64_t min_size,
                                                             std::uint64_t jump) const;

  // Row `position` of the prefix tables: d sums (squares) of centred values
  // over samples [0, position).
  const double* prefix_sum_row(std::uint64_t position) const noexcept {
    return prefix_sums_.data() + position * n_features_;
  }
  const double* prefix_square_row(std::uint64_t position) const noexcept {
    return prefix_squares_.data() + position * n_features_;
  }
  // Per column, the largest |centred value| and the sum of all of them:
  // bounds on the round-off that the prefix tables carry.
  std::span<const double> largest_centred_magnitudes() const noexcept { return largest_magnitude_; }
  std::span<const double> centred_magnitude_sums() const noexcept { return magnitude_sum_; }

 private:
  L2Cost() = default;
  double prefix_optimum_bound(double pen, std::uint64_t block) const;

  std::vector<double> reference_;       // row 0, the centring point of every column
  std::vector<double> prefix_sums_;     // (n + 1) x d, sums of centred values
  std::vector<double> prefix_squares_;  // (n + 1) x d, sums of squared centred values
  std::vector<double> largest_magnitude_;  // d: max over samples of |centred value|
  std::vector<double> magnitude_sum_;      // d: sum over samples of |centred value|
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
};

}  // namespace tarnwell
