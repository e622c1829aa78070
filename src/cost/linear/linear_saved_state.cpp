#include "cost/linear/linear_cost.hpp"

#include "core/fallible_allocation.hpp"

namespace tarnwell {

// The response is column 0 and the design the remaining columns of each row,
// so the signal is put back together row by row.
void LinearCost::save(StateWriter& out) const {
  const std::uint64_t n = regression_.n_rows();
  const std::uint64_t p = regression_.design_columns();
  out.put(n);
  out.put(n_features_);
  out.put(n * n_features_);
  const std::span<const double> design = regression_.design();
  const std::span<const double> response = regression_.response();
  for (std::uint64_t t = 0; t < n; ++t) {
    out.put(response[t]);
    for (std::uint64_t j = 0; j < p; ++j) out.put(design[t * p + j]);
  }
}

Result<LinearCost> LinearCost::restore(StateReader& in) {
  TARNWELL_TRY(signal, restore_signal(in));
  return fit(signal);
}

}  // namespace tarnwell
