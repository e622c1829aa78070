// The one instantiation of each exact engine for the custom-cost adapter.
#include "python/custom_cost/custom_cost_searches.hpp"

#include "search/dynp/dynp_engine.hpp"
#include "search/pelt/pelt_engine.hpp"

namespace tarnwell::python {

Result<Segmentation> pelt_search(const CustomCostAdapter& cost, const SearchParameters& parameters, double pen) {
  return run_pelt(cost, parameters, pen);
}

Result<Segmentation> dynp_search(const CustomCostAdapter& cost, const SearchParameters& parameters,
                                 std::uint64_t n_bkps, std::uint64_t max_memory_bytes) {
  return run_dynp(cost, parameters, n_bkps, max_memory_bytes);
}

}  // namespace tarnwell::python
