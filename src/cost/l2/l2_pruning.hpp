// Pelt's pruning test for the squared-error cost of several features (one
// feature has the interval pruning of the search itself).
//
// The loss of a sample is ‖y_i − θ‖² for the segment mean θ, so the cost is
// a squared distance in the signal's own (centred) coordinates and the
// argument of cost/pruning/ball_cover.hpp applies as it stands. The margin is
// the one the cost derives for functional pruning: the tie tolerance at every
// value the search can reach and the round-off of the prefix tables, the
// cost's evaluation and the test. The chain of block costs is the cost
// itself: a segment's within sum of squares is a minimum over its mean, so it
// is at least the sum of its parts' (less the rounding, a quarter of the
// margin per evaluation).
#pragma once

#include <cstdint>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/l2/l2_cost.hpp"
#include "cost/pruning/squared_distance_test.hpp"

namespace tarnwell {

class L2RangeStatistics {
 public:
  // Scans the prefix sums once for the error bound of their differences.
  explicit L2RangeStatistics(const L2Cost& cost);
  std::size_t dimension() const noexcept { return static_cast<std::size_t>(cost_->n_features()); }
  RangeSquares range(std::uint64_t a, std::uint64_t b, double* sums) const noexcept {
    const double* sum_a = cost_->prefix_sum_row(a);
    const double* sum_b = cost_->prefix_sum_row(b);
    const double* square_a = cost_->prefix_square_row(a);
    const double* square_b = cost_->prefix_square_row(b);
    double squares = 0.0;
    for (std::size_t k = 0; k < dimension(); ++k) {
      sums[k] = sum_b[k] - sum_a[k];
      squares += square_b[k] - square_a[k];
    }
    return {squares, sum_error_};
  }
  const L2Cost& cost() const noexcept { return *cost_; }

 private:
  const L2Cost* cost_;
  double sum_error_ = 0.0;  // of a difference of two prefix rows
};

class L2PruningTest {
 public:
  L2PruningTest(const L2Cost& cost, double margin) : test_(L2RangeStatistics(cost), margin) {}

  bool dominated(const PruningQuery& query) { return test_.dominated(query); }
  double floor_prefix(std::uint64_t) const noexcept { return 0.0; }
  double chain_bound(std::uint64_t a, std::uint64_t b) const {
    const Result<double> value = test_.statistics().cost().segment_cost(a, b);
    return value ? *value - 0.25 * test_.margin() : 0.0;
  }
  double chain_slack() const noexcept { return 0.5 * test_.margin(); }

 private:
  SquaredDistanceTest<L2RangeStatistics> test_;
};

// The test for a search over `cost`, nothing for one feature or where the
// margin is not finite.
inline std::optional<L2PruningTest> pelt_pruning_test(const L2Cost& cost, double pen, std::uint64_t min_size,
                                                      std::uint64_t jump, const TieRule& tie) {
  if (cost.n_features() < 2) return std::nullopt;
  const std::optional<double> margin = cost.functional_pruning_margin(pen, min_size, jump, tie);
  if (!margin) return std::nullopt;
  return L2PruningTest(cost, *margin);
}

}  // namespace tarnwell
