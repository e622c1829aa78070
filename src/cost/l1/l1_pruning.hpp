// Pelt's pruning test for the absolute-deviation cost: lazy evaluation only.
//
// A segment's cost is a minimum over the centre m (one per feature) of a sum
// of per-sample losses |y_i − m|, so it is superadditive: the cost of [x, T)
// is at least the cost of [x, t) plus the costs of the pieces of any
// partition of [t, T). The chain of block costs then bounds from below how
// much every listed start's value grows between its evaluations, and a step
// evaluates only the starts whose bound comes within the decision band of
// the optimum: the others could neither win nor tie. No start is dropped by
// this test (the inequality rule still drops them): proving that no centre
// is left where a start beats every partner needs the piecewise-linear
// functions of the centre, which the median index does not answer.
//
// Rounding: every cost is the correctly rounded sum of non-negative terms
// (median_deviation_index.hpp, or the sorted double-double evaluation), so
// it is within a few units in the last place of the exact one, and no
// segment's cost exceeds the whole signal's (costs are non-negative and
// superadditive). The slack allows 2^-40 of the whole signal's cost per
// comparison, a piece loses 2^-40 of its own.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/tie_rule.hpp"
#include "cost/l1/l1_cost.hpp"
#include "cost/pruning_query.hpp"

namespace tarnwell {

class L1PruningTest {
 public:
  explicit L1PruningTest(const L1Cost& cost, double whole_cost) : cost_(&cost), slack_(0x1p-40 * whole_cost) {}

  bool dominated(const PruningQuery&) const noexcept { return false; }
  double floor_prefix(std::uint64_t) const noexcept { return 0.0; }
  double chain_bound(std::uint64_t a, std::uint64_t b) const {
    if (b - a < 2) return 0.0;
    const Result<double> value = cost_->segment_cost(a, b);
    if (!value || !std::isfinite(*value)) return 0.0;
    return std::max(0.0, *value - 0x1p-40 * std::fabs(*value));
  }
  double chain_slack() const noexcept { return slack_; }
  // No start is ever put to the test: it could not drop one.
  std::pair<std::uint64_t, std::uint64_t> test_schedule() const noexcept {
    return {std::numeric_limits<std::uint64_t>::max() / 4, 1};
  }

 private:
  const L1Cost* cost_;
  double slack_;
};

inline std::optional<L1PruningTest> pelt_pruning_test(const L1Cost& cost, double, std::uint64_t, std::uint64_t,
                                                      const TieRule&) {
  const Result<double> whole = cost.segment_cost(0, cost.n_samples());
  if (!whole || !std::isfinite(*whole)) return std::nullopt;
  return L1PruningTest(cost, *whole);
}

}  // namespace tarnwell
