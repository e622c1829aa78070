#include "cost/ar/ar_cost.hpp"

namespace tarnwell {

// The response block is the signal itself; the lagged design is rebuilt by fit.
void ARCost::save(StateWriter& out) const {
  out.put(order_);
  save_signal(out, regression_.n_rows(), n_features_, regression_.response());
}

Result<ARCost> ARCost::restore(StateReader& in) {
  std::uint64_t order = 0;
  TARNWELL_CHECK(in.get(order));
  TARNWELL_TRY(signal, restore_signal(in));
  return fit(signal, order);
}

}  // namespace tarnwell
