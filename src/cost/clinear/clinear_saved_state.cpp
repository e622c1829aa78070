#include "cost/clinear/clinear_cost.hpp"

namespace tarnwell {

void CLinearCost::save(StateWriter& out) const { save_signal(out, n_samples_, n_features_, values_); }

Result<CLinearCost> CLinearCost::restore(StateReader& in) {
  TARNWELL_TRY(signal, restore_signal(in));
  return fit(signal);
}

}  // namespace tarnwell
