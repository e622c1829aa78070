// Independent re-check of an L1-Potts result: each segment is fitted at its
// lower weighted median, and the penalised total must match the optimum the
// programme reported.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/tie_rule.hpp"
#include "search/l1_potts/l1_potts_data.hpp"

namespace tarnwell {

struct L1PottsObjective {
  double cost = 0.0;       // sum of the segments' weighted absolute deviations
  double objective = 0.0;  // cost + pen * (segments - 1)
};

// Sum over the segments of sum w[i] |y[i] - m|, m the segment's lower
// weighted median among the levels. `breakpoints` must be a valid list ending
// at the number of samples and the data must hold the level of every sample;
// fails when a segment's cost is not finite.
Result<double> weighted_median_cost(const L1PottsData& data, std::span<const std::uint64_t> breakpoints);

// The cost above plus pen per change, which must tie with the programme's
// optimum or differ from it by no more than the roundings of the two sums.
Result<L1PottsObjective> recompute_l1_potts_objective(const L1PottsData& data,
                                                      const std::vector<std::uint64_t>& breakpoints, double pen,
                                                      double optimum, const TieRule& tie_rule);

}  // namespace tarnwell
