// Pelt's pruning test for the rank cost. A segment's cost −len m^T P m (m its
// mean centred rank, P positive semidefinite) is the minimum over θ of
//   Σ_i (θ^T P θ − 2 θ^T P r_i) = Σ_i (‖z_i − θ'‖² − ‖z_i‖²)
// with z = L^T r, θ' = L^T θ for a factor P = L L^T: a squared distance in the
// coordinates z plus a term per sample that no θ changes, so the argument of
// cost/pruning/ball_cover.hpp applies (its sums of squares are those terms'
// opposites: zero in all). The same per-sample terms are the floors, −‖z_i‖²,
// and the cost of a segment is superadditive (the mean's quadratic form is
// convex), which chains the block costs. The rank prefix sums are exact
// (half-integers); only the quadratic form is rounded, within a few units in
// the last place of len ‖P‖ ‖m‖², at most the sum of the segment's ‖r_i‖²‖P‖.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/tie_rule.hpp"
#include "cost/pruning/squared_distance_test.hpp"
#include "cost/rank/rank_cost.hpp"

namespace tarnwell {

class RankRangeStatistics {
 public:
  // Factors P; nothing when it cannot be factored.
  static std::optional<RankRangeStatistics> create(const RankCost& cost);
  std::size_t dimension() const noexcept { return d_; }
  RangeSquares range(std::uint64_t a, std::uint64_t b, double* sums) const noexcept;
  const RankCost& cost() const noexcept { return *cost_; }
  // A bound on the error of the cost of a range of `length` samples.
  double cost_error(std::uint64_t length) const noexcept { return error_unit_ * static_cast<double>(length); }

 private:
  RankRangeStatistics(const RankCost& cost, std::vector<double> factor);

  const RankCost* cost_;
  std::vector<double> factor_;  // L, d x d row-major
  std::size_t d_;
  double factor_norm_ = 0.0;
  double error_unit_ = 0.0;
};

class RankPruningTest {
 public:
  // The floors' prefix table is built here (the caller turns an allocation
  // failure into its error).
  RankPruningTest(RankRangeStatistics statistics, double pen, const TieRule& tie);

  bool dominated(const PruningQuery& query) { return test_.dominated(query); }
  double floor_prefix(std::uint64_t position) const noexcept { return floors_[position]; }
  double chain_bound(std::uint64_t a, std::uint64_t b) const;
  double chain_slack() const noexcept { return 2.0 * error_; }

 private:
  std::vector<double> floors_;  // n + 1: minus the prefix sums of ‖z_i‖², widened
  double error_;
  SquaredDistanceTest<RankRangeStatistics> test_;
};

std::optional<RankPruningTest> pelt_pruning_test(const RankCost& cost, double pen, std::uint64_t min_size,
                                                 std::uint64_t jump, const TieRule& tie);

}  // namespace tarnwell
