// Pelt's pruning test for the linear-regression cost: the residual sum of
// squares of the response on the design is a minimum over the coefficients
// of a sum of per-sample squared residuals, quadratic in them, so the dual
// bounds of cost/linear/regression_pruning.hpp apply (with two features the
// coefficient is a single number).
#pragma once

#include <cstdint>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/linear/linear_cost.hpp"
#include "cost/linear/regression_pruning.hpp"

namespace tarnwell {

inline std::optional<RegressionPruningTest> pelt_pruning_test(const LinearCost& cost, double pen, std::uint64_t,
                                                              std::uint64_t, const TieRule& tie) {
  return RegressionPruningTest::create(cost, cost.regression(), pen, LinearCost::minimum_length, tie);
}

}  // namespace tarnwell
