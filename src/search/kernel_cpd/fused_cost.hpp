// The segment cost inside the fused programmes, from the diagonal prefix D
// and the within-segment sums W of the current end t:
//   c(s, t) = (D[t] - D[s]) - W[s] / (t - s).
// The cost is non-negative in exact arithmetic; a finite value at or above 0
// is used as is, anything else takes the out-of-line check.
#pragma once

#include <cfloat>
#include <cstdint>

#include "core/error/error_kind.hpp"

namespace tarnwell {

inline bool plain_fused_cost(double cost) noexcept { return cost >= 0.0 && cost <= DBL_MAX; }

// Round-off below zero becomes 0. The allowance grows with the magnitude of
// the subtracted sums (for the linear kernel they can be huge and cancel
// exactly for a constant segment far from row 0); a value clearly below it,
// or a non-finite one, is a failure.
Result<double> settle_fused_cost(double cost, double diagonal_end, double within, std::uint64_t length);

// The near-tie rule of both programmes: a later candidate h displaces the
// current best b only by a clear margin, so near-ties keep the earlier start.
// `floor` is the absolute part of the margin, in the units of the kernel's
// values (FusedKernelState::tie_floor), so the rule does not change with them.
inline bool clearly_better(double h, double b, double floor) noexcept {
  return h < b && (b > DBL_MAX || b - h > b * 1e-12 + floor);
}

}  // namespace tarnwell
