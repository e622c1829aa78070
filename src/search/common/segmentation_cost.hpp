// The cost of a found segmentation, evaluated once more segment by segment in
// order from the first, so that the reported cost does not carry the search's
// own accumulation order.
#pragma once

#include <cstdint>
#include <span>

#include "cost/segment_cost.hpp"

namespace tarnwell {

template <SegmentCost Cost>
Result<double> recompute_segmentation_cost(const Cost& cost, std::span<const std::uint64_t> breakpoints) {
  double total = 0.0;
  std::uint64_t previous = 0;
  for (const std::uint64_t breakpoint : breakpoints) {
    TARNWELL_TRY(segment, cost.segment_cost(previous, breakpoint));
    total += segment;
    previous = breakpoint;
  }
  return total;
}

}  // namespace tarnwell
