// The pruning tests the cost models offer Pelt (cost/pruning_query.hpp), each
// in its model's folder with its argument. A cost offers one through an
// overload `pelt_pruning_test(cost, pen, min_size, jump, tie_rule)` returning
// an optional test (nothing where it does not apply); the search detects the
// overload at compile time and runs its tested steps with it.
#pragma once

#include <cstdint>

#include "core/tie_rule.hpp"
#include "cost/ar/ar_pruning.hpp"
#include "cost/l1/l1_pruning.hpp"
#include "cost/l2/l2_pruning.hpp"
#include "cost/linear/linear_pruning.hpp"
#include "cost/mahalanobis/mahalanobis_pruning.hpp"
#include "cost/normal/normal_pruning.hpp"
#include "cost/rank/rank_pruning.hpp"
#include "search/pelt/pelt_tested_steps.hpp"

namespace tarnwell {

template <class Cost>
concept OffersPeltPruningTest = requires(const Cost& cost, double pen, std::uint64_t size, const TieRule& tie) {
  { *pelt_pruning_test(cost, pen, size, size, tie) } -> PeltModelTest;
};

}  // namespace tarnwell
