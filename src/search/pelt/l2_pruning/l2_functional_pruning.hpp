// Pelt's functional pruning for the squared-error cost of one feature:
// intervals of means (vectorised). Several features are pruned by the
// cost's own test (cost/l2/l2_pruning.hpp).
#pragma once

#include <cstdint>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/l2/l2_cost.hpp"
#include "search/pelt/l2_pruning/l2_interval_pruning.hpp"

namespace tarnwell {

// The pruning for a search over `cost`, with the margin its arithmetic needs.
inline std::optional<L2IntervalPruning> pelt_functional_pruning(const L2Cost& cost, double pen,
                                                                std::uint64_t min_size, std::uint64_t jump,
                                                                const TieRule& tie) {
  if (cost.n_features() != 1) return std::nullopt;
  const std::optional<double> margin = cost.functional_pruning_margin(pen, min_size, jump, tie);
  if (!margin) return std::nullopt;
  return L2IntervalPruning(cost.prefix_sum_row(0), cost.prefix_square_row(0), *margin);
}

}  // namespace tarnwell
