// Near-equality of values of order one, for code that has no problem scale
// of its own; the policy itself lives in tie_rule.hpp.
#pragma once

#include "search/common/tie_rule.hpp"

namespace tarnwell {

inline bool near_equal(double left, double right) noexcept { return TieRule::unit().near(left, right); }
inline bool is_tie(double left, double right) noexcept { return TieRule::unit().tie(left, right); }

}  // namespace tarnwell
