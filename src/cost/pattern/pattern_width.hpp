// The subsequence width of the pattern cost when the caller gives none,
// learned from the signal: an eighth of its dominant period (the period of
// the highest peak of the periodogram, summed over the standardised
// features), at least `smallest_pattern_width` samples. A window of a
// fraction of the period sees the local shape of the pattern (a rise, a
// peak, a ripple) and still has a dozen neighbours per period to be compared
// with; whole periods would blur segments that differ in one part of the
// cycle. Periods above a tenth of the signal are not patterns but trends,
// and are not considered.
#pragma once

#include <cstdint>

#include "core/error/error_kind.hpp"
#include "core/signal.hpp"

namespace tarnwell {

inline constexpr std::uint64_t smallest_pattern_width = 8;

Result<std::uint64_t> learned_pattern_width(const Signal& signal);

}  // namespace tarnwell
