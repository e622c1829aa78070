#include "cost/ar/ar_cost.hpp"

#include "cost/ar/ar_model.hpp"

namespace tarnwell {

// The response block is the signal itself; the lagged design is rebuilt by fit.
void ARCost::save(StateWriter& out) const {
  out.put(order_);
  save_signal(out, regression_.n_rows(), n_features_, regression_.response());
}

Result<ARCost> ARCost::restore(StateReader& in, const ARModel& model) {
  std::uint64_t order = 0;
  TARNWELL_CHECK(in.get(order));
  if (order != model.order) return errors::fail(in.invalid("it was fitted with another order"));
  TARNWELL_TRY(signal, restore_signal(in));
  return fit(signal, order);
}

}  // namespace tarnwell
