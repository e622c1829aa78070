// Whether CostL1 fits build the median index (median_deviation_index.hpp).
// On unless turned off: the tests turn it off to compare the indexed costs
// with the sorted-segment ones on the same problems. A fitted cost keeps the
// form it was fitted with.
#pragma once

namespace tarnwell {

bool l1_median_index_enabled() noexcept;
// Returns the previous setting.
bool set_l1_median_index_enabled(bool enabled) noexcept;

}  // namespace tarnwell
