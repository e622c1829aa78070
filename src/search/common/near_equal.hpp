// Near-equality of objective values. Two values within about a trillionth
// (relative, plus an absolute floor for values near zero) are treated as the
// same optimum, so that round-off in prefix differences cannot decide between
// segmentations; the searches then break the tie by a deterministic rule.
#pragma once

#include <algorithm>
#include <cmath>

namespace tarnwell {

inline bool near_equal(double left, double right) noexcept {
  if (!std::isfinite(left) || !std::isfinite(right)) return false;
  return std::fabs(left - right) <= 1e-12 * std::max(std::fabs(left), std::fabs(right)) + 1e-12;
}

// Exactly equal values (the infinities included) are always tied.
inline bool is_tie(double left, double right) noexcept { return left == right || near_equal(left, right); }

}  // namespace tarnwell
