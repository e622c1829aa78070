// Pelt's functional pruning for the squared-error cost: intervals of means
// for one feature (vectorised), balls of means for several. The search picks
// the one that applies once per run.
#pragma once

#include <cstdint>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/l2/l2_cost.hpp"
#include "search/pelt/l2_pruning/l2_ball_pruning.hpp"
#include "search/pelt/l2_pruning/l2_interval_pruning.hpp"

namespace tarnwell {

class L2FunctionalPruning {
 public:
  L2FunctionalPruning(const double* prefix_sums, const double* prefix_squares, std::uint64_t d,
                      double margin) noexcept
      : single_(d == 1), interval_(prefix_sums, prefix_squares, margin), ball_(prefix_sums, prefix_squares, d, margin) {}

  // Calls `run` with the pruner for this signal's feature count.
  template <class Run>
  decltype(auto) visit(Run&& run) const {
    return single_ ? run(interval_) : run(ball_);
  }

 private:
  bool single_;
  L2IntervalPruning interval_;
  L2BallPruning ball_;
};

// The pruning for a search over `cost`, with the margin its arithmetic needs.
inline std::optional<L2FunctionalPruning> pelt_functional_pruning(const L2Cost& cost, double pen,
                                                                  std::uint64_t min_size, std::uint64_t jump,
                                                                  const TieRule& tie) {
  const std::optional<double> margin = cost.functional_pruning_margin(pen, min_size, jump, tie);
  if (!margin) return std::nullopt;
  return L2FunctionalPruning(cost.prefix_sum_row(0), cost.prefix_square_row(0), cost.n_features(), *margin);
}

}  // namespace tarnwell
