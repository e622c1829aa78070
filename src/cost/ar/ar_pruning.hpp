// Pelt's pruning test for the autoregressive cost: each sample is regressed
// on an intercept and its lags, which come from the whole signal, so the
// rows of a segment do not depend on where it starts and its cost is a
// minimum over the coefficients of a sum of per-sample squared residuals:
// the dual bounds of cost/linear/regression_pruning.hpp apply, over the
// order × features + 1 coefficients of every response feature at once.
#pragma once

#include <cstdint>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/ar/ar_cost.hpp"
#include "cost/linear/regression_pruning.hpp"

namespace tarnwell {

inline std::optional<RegressionPruningTest> pelt_pruning_test(const ARCost& cost, double pen, std::uint64_t,
                                                              std::uint64_t, const TieRule& tie) {
  return RegressionPruningTest::create(cost, cost.regression(), pen, cost.min_segment_length(), tie);
}

}  // namespace tarnwell
