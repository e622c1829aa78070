// Checks shared by every cost: segment bounds, segment lengths and
// breakpoint lists.
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// start < end <= n_samples.
inline Status check_segment(std::uint64_t start, std::uint64_t end, std::uint64_t n_samples) {
  if (!(start < end && end <= n_samples)) return errors::fail(errors::invalid_segment(start, end, n_samples));
  return {};
}

// For a valid segment: its length is at least `minimum`.
inline Status check_segment_length(std::uint64_t start, std::uint64_t end, std::uint64_t minimum) {
  if (end - start < minimum) return errors::fail(errors::segment_too_short(start, end, end - start, minimum));
  return {};
}

// A breakpoint list for a signal of n_samples: non-empty, strictly increasing
// from above 0, every segment at least `minimum` long, last equal to n_samples.
Status check_breakpoints(std::span<const std::uint64_t> breakpoints, std::uint64_t n_samples, std::uint64_t minimum);

}  // namespace tarnwell
