// Binseg, BottomUp and Window over every built-in cost.
#include "search/builtin_searches.hpp"
#include "search/greedy/binseg_search.hpp"
#include "search/greedy/bottom_up_search.hpp"
#include "search/greedy/window_engine.hpp"

namespace tarnwell {

Result<Segmentation> BinsegSearch::run(const FittedCost& cost, const SearchParameters& parameters,
                                       const StoppingRule& rule) {
  const SearchParameters effective = parameters_for(cost, parameters);
  return cost.visit([&](const auto& concrete) { return run_binseg(concrete, effective, rule); });
}

Result<Segmentation> BottomUpSearch::run(const FittedCost& cost, const SearchParameters& parameters,
                                         const StoppingRule& rule) {
  const SearchParameters effective = parameters_for(cost, parameters);
  return cost.visit([&](const auto& concrete) { return run_bottom_up(concrete, effective, rule); });
}

Result<Segmentation> window_search(const FittedCost& cost, const SearchParameters& parameters, std::uint64_t width,
                                   const StoppingRule& rule) {
  const SearchParameters effective = parameters_for(cost, parameters);
  return cost.visit([&](const auto& concrete) { return run_window(concrete, effective, width, rule); });
}

}  // namespace tarnwell
