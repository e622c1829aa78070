#include "cost/clinear/clinear_prefix_costs.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include "core/vector_paths.hpp"
#include "cost/clinear/clinear_prefix_body.hpp"

namespace tarnwell {

double clinear_prefix_cost(const CLinearTables& tables, std::uint64_t start, std::uint64_t end) noexcept {
  return prefix_cost<ProductForm::split>(tables, start, end);
}

void clinear_prefix_costs(const CLinearTables& tables, std::span<const std::uint64_t> starts, std::uint64_t end,
                          double* out) noexcept {
  static const CLinearPrefixBatch fused = clinear_prefix_costs_fused();
  const bool vectorised = fused != nullptr && !portable_paths_forced();
  record_vector_path(VectorPath::clinear_costs, vectorised);
  if (vectorised) {
    fused(tables, starts, end, out);
  } else {
    prefix_costs<ProductForm::split>(tables, starts, end, out);
  }
}

}  // namespace tarnwell
