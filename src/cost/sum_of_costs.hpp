// The total cost of a segmentation, validated first and summed with
// compensation so that many small segment costs add up exactly enough.
#pragma once

#include <span>

#include "core/kahan_sum.hpp"
#include "cost/segment_cost.hpp"
#include "cost/segment_validation.hpp"
#include "core/strided_matrix.hpp"

namespace tarnwell {

template <SegmentCost Cost>
Result<double> sum_of_costs(const Cost& cost, std::span<const std::uint64_t> breakpoints) {
  TARNWELL_CHECK(check_breakpoints(breakpoints, cost.n_samples(), cost.min_segment_length()));
  KahanSum total;
  std::uint64_t previous = 0;
  for (const std::uint64_t breakpoint : breakpoints) {
    TARNWELL_TRY(segment, cost.segment_cost(previous, breakpoint));
    total.add(segment);
    previous = breakpoint;
  }
  if (!is_finite_value(total.sum)) return errors::fail(errors::non_finite_objective(total.sum));
  return total.sum;
}

}  // namespace tarnwell
