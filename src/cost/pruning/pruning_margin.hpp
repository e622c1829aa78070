// The margin by which a model's pruning test must see a start beaten before
// the search may drop it: with every value the search compares within
// `value_bound` in magnitude and every cost it evaluates within
// `error_bound` of the exact cost, a start beaten by the margin in exact
// arithmetic stays above the optimum by more than the search's decision
// band (cost/pruning_query.hpp): four tie tolerances at the largest value,
// and the rounding of the two costs compared, each with a factor of two.
#pragma once

#include "core/tie_rule.hpp"

namespace tarnwell {

inline double pruning_margin(const TieRule& tie, double value_bound, double error_bound) noexcept {
  return 8.0 * tie.tolerance(value_bound, 0.0) + 8.0 * error_bound;
}

}  // namespace tarnwell
