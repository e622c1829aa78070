// Pelt's functional pruning for the squared-error cost: intervals of means
// for one feature (vectorised), balls of means for several. The search picks
// the one that applies once per run.
#pragma once

#include <cstdint>

#include "cost/l2/l2_ball_pruning.hpp"
#include "cost/l2/l2_interval_pruning.hpp"

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

}  // namespace tarnwell
