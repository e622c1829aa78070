// Independent re-check of an L1-Potts result: each segment is fitted at its
// lower weighted median, and the penalised total must match the optimum the
// programme reported.
#pragma once

#include <cstdint>
#include <vector>

#include "python/error/error_kind.hpp"
#include "search/l1_potts/l1_potts_data.hpp"

namespace tarnwell {

struct L1PottsObjective {
  double cost = 0.0;       // sum of the segments' weighted absolute deviations
  double objective = 0.0;  // cost + pen * (segments - 1)
};

// `breakpoints` must be a valid list ending at n_samples.
Result<L1PottsObjective> recompute_l1_potts_objective(const L1PottsData& data,
                                                      const std::vector<std::uint64_t>& breakpoints, double pen,
                                                      double optimum);

}  // namespace tarnwell
