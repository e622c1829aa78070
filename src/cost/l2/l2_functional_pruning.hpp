// Pelt's functional pruning for the squared-error cost: intervals of means
// for one feature (vectorised), balls of means for several. The search asks
// it once per step; the choice between the two is made there, not per start.
#pragma once

#include <cstdint>
#include <span>

#include "cost/l2/l2_ball_pruning.hpp"
#include "cost/l2/l2_interval_pruning.hpp"

namespace tarnwell {

class L2FunctionalPruning {
 public:
  using Columns = std::span<double* const>;

  L2FunctionalPruning(const double* prefix_sums, const double* prefix_squares, std::uint64_t d,
                      double margin) noexcept
      : single_(d == 1), interval_(prefix_sums, prefix_squares, margin), ball_(prefix_sums, prefix_squares, d, margin) {}

  std::size_t state_columns() const noexcept {
    return single_ ? L2IntervalPruning::state_columns : ball_.state_columns();
  }

  void sentinel(double* state) const noexcept {
    if (single_) {
      interval_.sentinel(state);
    } else {
      ball_.sentinel(state);
    }
  }

  void admit(std::uint64_t position, double best, std::uint64_t predecessor, double predecessor_best,
             double* state) const noexcept {
    if (single_) {
      interval_.admit(position, best, predecessor, predecessor_best, state);
    } else {
      ball_.admit(position, best, predecessor, predecessor_best, state);
    }
  }

  bool endpoint_costs(Columns state, std::size_t count, std::uint64_t end, double* out) const noexcept {
    return single_ ? interval_.endpoint_costs(state, count, end, out) : ball_.endpoint_costs(state, count, end, out);
  }

  void mark_dominated(std::size_t size, const double* best, Columns state, std::uint64_t new_position,
                      double new_best, double* dominated) const noexcept {
    if (single_) {
      interval_.mark_dominated(size, best, state, new_position, new_best, dominated);
    } else {
      ball_.mark_dominated(size, best, state, new_position, new_best, dominated);
    }
  }

 private:
  bool single_;
  L2IntervalPruning interval_;
  L2BallPruning ball_;
};

}  // namespace tarnwell
