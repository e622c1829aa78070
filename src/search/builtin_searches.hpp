// The searches over the built-in cost family (Binseg and BottomUp declare
// theirs in their descriptors). Each dispatches once on the
// fitted cost and runs its engine instantiated for that concrete cost; the
// instantiations live in the engines' own translation units, so code that
// only starts a search never compiles an engine.
#pragma once

#include <algorithm>
#include <cstdint>

#include "cost/fitted_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {

// The parameters a search over `cost` runs with: min_size raised to the
// shortest segment the cost is meaningful for.
inline SearchParameters parameters_for(const FittedCost& cost, SearchParameters parameters) {
  parameters.min_size = std::max(parameters.min_size, cost.search_min_segment_length());
  return parameters;
}

Result<Segmentation> pelt_search(const FittedCost& cost, const SearchParameters& parameters, double pen);
Result<Segmentation> dynp_search(const FittedCost& cost, const SearchParameters& parameters, std::uint64_t n_bkps,
                                 std::uint64_t max_memory_bytes);
Result<Segmentation> window_search(const FittedCost& cost, const SearchParameters& parameters, std::uint64_t width,
                                   const StoppingRule& rule);

}  // namespace tarnwell
