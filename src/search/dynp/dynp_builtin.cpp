// Dynp over every built-in cost.
#include "search/builtin_searches.hpp"
#include "search/dynp/dynp_engine.hpp"

namespace tarnwell {

Result<Segmentation> dynp_search(const FittedCost& cost, const SearchParameters& parameters, std::uint64_t n_bkps,
                                 std::uint64_t max_memory_bytes) {
  const SearchParameters effective = parameters_for(cost, parameters);
  return cost.visit(
      [&](const auto& concrete) { return run_dynp(concrete, effective, n_bkps, max_memory_bytes); });
}

}  // namespace tarnwell
