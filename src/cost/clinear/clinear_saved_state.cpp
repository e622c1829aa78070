#include "cost/clinear/clinear_cost.hpp"

#include <cmath>
#include <vector>

namespace tarnwell {

// The signal in its own unit (the stored copy is scaled by a power of two).
void CLinearCost::save(StateWriter& out) const {
  std::vector<double> signal(values_.size());
  for (std::size_t i = 0; i < values_.size(); ++i) signal[i] = std::ldexp(values_[i], unit_exponent_);
  save_signal(out, n_samples_, n_features_, signal);
}

Result<CLinearCost> CLinearCost::restore(StateReader& in) {
  TARNWELL_TRY(signal, restore_signal(in));
  return fit(signal);
}

}  // namespace tarnwell
