// The pattern cost's own stopping rule: binary segmentation in which every
// split must pass a test. For a segment of L windows, each split t gains
//
//   g(t) = c(whole) - c(left) - c(right)
//
// (in shares of links, pattern_cost.hpp): about 0 where nothing changes,
// up to 1 where the two sides share no links. The best split is accepted
// when
//
//   z = g * sqrt(neighbours * min(t, L - t)) > threshold,
//
// the gain in units of its sampling error: the share of same-side links of
// the shorter side's min(t, L - t) windows is a mean over neighbours *
// min(t, L - t) links. Splits keep `margin` widths of windows on either
// side (a pattern needs a few repetitions to have neighbours of its own).
// A refused segment stays whole; the others go on, so the result does not
// depend on the order in which segments are examined.
#pragma once

#include <cstdint>

#include "core/error/error_kind.hpp"
#include "cost/pattern/pattern_cost.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

struct PatternSplitTest {
  double threshold = 3.5;
  std::uint64_t margin = 5;  // in widths
};

Result<Segmentation> tested_pattern_segmentation(const PatternCost& cost, const PatternSplitTest& test);

}  // namespace tarnwell
