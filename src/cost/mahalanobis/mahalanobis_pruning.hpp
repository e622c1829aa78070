// Pelt's pruning test for the Mahalanobis cost. A sample's loss is
// (y_i − θ)^T M (y_i − θ) = ‖L^T (y_i − θ)‖² for a factor M = L L^T of the
// positive-semidefinite metric: a squared distance in the coordinates
// z = L^T y, so the argument of cost/pruning/ball_cover.hpp applies (proving
// domination at every θ ∈ R^d covers the segment's own mean). With the
// identity metric the cost answers through the squared-error statistics and
// the squared-error test applies unchanged.
//
// With another metric the statistics are the scatter tables, plain running
// sums of the centred samples and of their outer products: a difference of
// two rows carries the rounding of every row between them, so the cost of a
// range is within a few roundings of its length times the largest prefix
// entry (and of the squared largest prefix sum, through the mean's term).
// The margin is taken at the whole signal's length; a chain piece gives up
// its own range's share.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/tie_rule.hpp"
#include "cost/l2/l2_pruning.hpp"
#include "cost/mahalanobis/mahalanobis_cost.hpp"
#include "cost/pruning/squared_distance_test.hpp"

namespace tarnwell {

class MetricRangeStatistics {
 public:
  // Factors the metric and scans the prefix tables for their magnitudes;
  // nothing when the metric cannot be factored.
  static std::optional<MetricRangeStatistics> create(const MahalanobisCost& cost);
  std::size_t dimension() const noexcept { return d_; }
  RangeSquares range(std::uint64_t a, std::uint64_t b, double* sums) const noexcept;
  // A bound on the error of the cost of a range of `length` samples.
  double cost_error(std::uint64_t length) const noexcept {
    return error_unit_ * (static_cast<double>(length) + 1.0) + error_floor_;
  }

 private:
  const ScatterStatistics* scatter_;
  std::span<const double> metric_;
  std::vector<double> factor_;  // L, d x d row-major
  std::size_t d_;
  double largest_sum_ = 0.0;  // max over rows and features of |prefix sum|
  double factor_norm_ = 0.0;  // Frobenius
  double error_unit_ = 0.0;
  double error_floor_ = 0.0;

  MetricRangeStatistics(const MahalanobisCost& cost, std::vector<double> factor);
};

class MahalanobisPruningTest {
 public:
  explicit MahalanobisPruningTest(L2PruningTest squared_error) : test_(std::move(squared_error)) {}
  // With another metric: its statistics, and the margin for a search with
  // this penalty and tie rule.
  MahalanobisPruningTest(const MahalanobisCost& cost, MetricRangeStatistics statistics, double pen,
                         const TieRule& tie);

  bool dominated(const PruningQuery& query);
  double floor_prefix(std::uint64_t) const noexcept { return 0.0; }
  double chain_bound(std::uint64_t a, std::uint64_t b) const;
  double chain_slack() const noexcept;

 private:
  struct General {
    SquaredDistanceTest<MetricRangeStatistics> test;
    const MahalanobisCost* cost;
    double error;  // of any cost the search evaluates
  };
  std::variant<L2PruningTest, General> test_;
};

// Nothing for one feature with the identity metric (the search's interval
// pruning) or where no finite margin exists.
std::optional<MahalanobisPruningTest> pelt_pruning_test(const MahalanobisCost& cost, double pen,
                                                        std::uint64_t min_size, std::uint64_t jump,
                                                        const TieRule& tie);

}  // namespace tarnwell
