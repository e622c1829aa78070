// The exact weighted L1-Potts detector: for a scalar signal y with weights w
// and a penalty pen > 0, the piecewise-constant fit mu, each mu[i] one of the
// signal's levels, that minimises
//   sum_i w[i] |y[i] - mu[i]| + pen * #{i >= 1 : mu[i] != mu[i - 1]}.
// A dynamic programme over (sample, level) in O(K n) time keeps two rows of K
// values and one parent flag byte per (sample, level).
#pragma once

#include "core/error/error_kind.hpp"
#include "search/common/segmentation.hpp"
#include "search/l1_potts/l1_potts_data.hpp"

namespace tarnwell {

// Refuses, before allocating the flags, when the working memory would exceed
// the machine's physical memory.
Result<Segmentation> run_l1_potts(const L1PottsData& data, double pen);

}  // namespace tarnwell
