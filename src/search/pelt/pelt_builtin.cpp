// Pelt over every built-in cost.
#include "search/builtin_searches.hpp"
#include "search/pelt/pelt_engine.hpp"

namespace tarnwell {

Result<Segmentation> pelt_search(const FittedCost& cost, const SearchParameters& parameters, double pen) {
  const SearchParameters effective = parameters_for(cost, parameters);
  return cost.visit([&](const auto& concrete) { return run_pelt(concrete, effective, pen); });
}

}  // namespace tarnwell
